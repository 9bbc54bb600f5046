#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "album_client.h"
#include "linked_album_client.h"
#include "commands.h"
#include "serve.h"
#include "text.h"

namespace albummaker::host {
namespace {

constexpr const char* kServeUsage =
    "Usage: albummaker serve --folder DIR --template FILE [--bind ADDR] [--port N] [--threads N]\n"
    "Serves the album in DIR over HTTP: GET / shows the first picture's page,\n"
    "/?file=NAME (or a position) another one, /picture?file=NAME (or\n"
    "/pictures/NAME) the picture itself.\n"
    "  --bind ADDR    address to listen on (default 127.0.0.1)\n"
    "  --port N       port to listen on (default 8080; 0 picks a free one)\n"
    "  --threads N    threads answering requests (default: one per processor core)\n"
    "Prints the URL once it listens; stops on Ctrl+C (SIGINT), SIGTERM, or on\n"
    "Windows Ctrl+Break or closing the console.\n";

std::optional<long> ParseNumber(const std::string& text, long low, long high) {
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < low || value > high) return std::nullopt;
  return value;
}

// A UTF-8 path as the platform takes it (bytes kept as they are on POSIX).
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(PathOf(path), ec);
}

bool IsReadableFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(PathOf(path), ec) && std::ifstream(PathOf(path)).good();
}

}  // namespace

int RunServe(const Args& args, std::ostream& out, std::ostream& err) {
  ServeConfig config;
  std::string templatePath;
  std::string fixedPagePath;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      out << kServeUsage;
      return kExitOk;
    }
    if (i + 1 >= args.size()) {
      err << "albummaker serve: " << arg << (arg.starts_with("--") ? " needs a value\n" : ": unexpected\n")
          << kServeUsage;
      return kExitUsage;
    }
    const std::string& value = args[++i];
    if (arg == "--folder") {
      config.folder = value;
    } else if (arg == "--template") {
      templatePath = value;
    } else if (arg == "--bind") {
      config.bindAddress = value;
    } else if (arg == "--port" || arg == "--threads") {
      const auto number = arg == "--port" ? ParseNumber(value, 0, 65535) : ParseNumber(value, 1, 256);
      if (!number) {
        err << "albummaker serve: " << arg << " \"" << value << "\" is out of range\n";
        return kExitUsage;
      }
      if (arg == "--port") {
        config.port = static_cast<int>(*number);
      } else {
        config.limits.threads = static_cast<size_t>(*number);
      }
    } else if (arg == "--min-rate" || arg == "--write-timeout") {
      // Not in the usage either: how slow a reader may be (bytes a
      // second) and the time every response gets on top (ms), so that
      // tests meet the cut-off within seconds.
      const auto number = ParseNumber(value, 1, 1L << 30);
      if (!number) {
        err << "albummaker serve: " << arg << " \"" << value << "\" is out of range\n";
        return kExitUsage;
      }
      if (arg == "--min-rate") {
        config.limits.minBytesPerSecond = static_cast<size_t>(*number);
      } else {
        config.limits.writeTimeout = std::chrono::milliseconds(*number);
      }
    } else if (arg == "--fixed-page") {
      // Not in the usage: answers one fixed page instead of rendering,
      // to measure the server without the album.
      fixedPagePath = value;
    } else {
      err << "albummaker serve: unknown option " << arg << '\n' << kServeUsage;
      return kExitUsage;
    }
  }
  if (config.folder.empty() || templatePath.empty()) {
    err << "albummaker serve: --folder and --template are required\n" << kServeUsage;
    return kExitUsage;
  }
  if (!IsDirectory(config.folder)) {
    err << "albummaker serve: cannot open the folder " << config.folder << '\n';
    return kExitFailure;
  }
  if (!IsReadableFile(templatePath)) {
    err << "albummaker serve: cannot read the template " << templatePath << '\n';
    return kExitFailure;
  }
  std::string fixedPage;
  if (!fixedPagePath.empty()) {
    std::ifstream in(PathOf(fixedPagePath), std::ios::binary);
    if (!in) {
      err << "albummaker serve: cannot read " << fixedPagePath << '\n';
      return kExitFailure;
    }
    fixedPage.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    config.fixedPage = &fixedPage;
  }

  std::u16string error;
  std::unique_ptr<AlbumClient> client = CreateLinkedAlbumClient(error);
  if (!client) {
    err << "albummaker serve: cannot create the album: " << Utf16ToUtf8(error) << '\n';
    return kExitFailure;
  }
  client->SetFolderPath(Utf8ToUtf16(config.folder));
  client->SetPageTemplatePath(Utf8ToUtf16(templatePath));
  return Serve(config, *client, out, err);
}

}  // namespace albummaker::host
