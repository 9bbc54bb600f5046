// The album client over the engine itself, in this process.
#include <exception>
#include <limits>
#include <mutex>
#include <shared_mutex>

#include "album_client.h"
#include "album_engine.h"

namespace albummaker::host {
namespace {

std::u16string Widen(const char* ansi) {
  // Engine messages are ASCII.
  std::u16string out;
  for (const char* p = ansi; *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

// True, with value set, when text is an optionally signed decimal number that
// fits in 32 bits.
bool ParseInt32(const std::u16string& text, int32_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == text.size()) return false;
  int64_t n = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    n = n * 10 + (text[i] - u'0');
    if (n > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (negative) n = -n;
  if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(n);
  return true;
}

class EngineAlbumClient final : public AlbumClient {
 public:
  void SetFolderPath(const std::u16string& path) override {
    std::unique_lock lock(pathsLock_);
    engine_.SetFolderPath(path.c_str());
  }
  void SetPageTemplatePath(const std::u16string& path) override {
    std::unique_lock lock(pathsLock_);
    engine_.SetPageTemplatePath(path.c_str());
  }
  PageResult PageByIndex(int32_t index) override {
    return Guarded([&] { return engine_.RenderPageByIndex(index); });
  }
  PageResult PageByName(const std::u16string& name) override {
    return Guarded([&] { return engine_.RenderPageByName(name); });
  }
  PageResult PageByText(const std::u16string& text) override {
    int32_t index = 0;
    if (ParseInt32(text, index)) return PageByIndex(index);
    return PageByName(text);
  }

 private:
  template <typename F>
  PageResult Guarded(F&& render) {
    PageResult result;
    try {
      // Renders only read the paths; a path change waits for them.
      std::shared_lock lock(pathsLock_);
      result.page = render();
      result.ok = true;
    } catch (const std::exception& e) {
      result.error = Widen(e.what());
    } catch (...) {
      result.error = u"Unexpected failure.";
    }
    return result;
  }

  std::shared_mutex pathsLock_;
  AlbumEngine engine_;
};

}  // namespace

std::unique_ptr<AlbumClient> CreateAlbumClient(std::u16string& error) {
  try {
    return std::make_unique<EngineAlbumClient>();
  } catch (const std::exception& e) {
    error = Widen(e.what());
    return nullptr;
  }
}

}  // namespace albummaker::host
