// What a page costs a user of the component against what any renderer must
// pay, measured in one run:
//  - BM_Page: getAlbumPage by position through the IAlbumMaker vtable of one
//    AlbumMaker object from the class factory (paths set once);
//  - BM_Floor: a C loop doing the work no renderer can skip: opendir/readdir
//    with the extension filter, a case-insensitive sort, open/fstat/read/close
//    of the template, one pass turning its bytes into UTF-16 units.
// Albums of 20, 1,000 and 10,000 pictures with a 16 KiB template, made in a
// temporary folder and removed at exit. The ratios of the medians (CPU time)
// are printed after the table. Without arguments the run repeats each
// benchmark 9 times, randomly interleaved.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "album_maker_interface.h"
#include "bench_album.h"
#include "class_factory.h"
#include "com_util.h"

namespace {

namespace fs = std::filesystem;
using namespace albummaker::server;

constexpr int kSizes[] = {20, 1000, 10000};

struct Album {
  fs::path folder;
  fs::path templatePath;
};

struct Albums {
  fs::path root;
  std::map<int, Album> bySize;

  Albums() {
    root = fs::temp_directory_path() / ("am-page-bench-" + std::to_string(std::random_device{}()));
    for (const int pictures : kSizes) {
      Album& album = bySize[pictures];
      const fs::path dir = root / std::to_string(pictures);
      album.folder = dir / "pictures";
      album.templatePath = dir / "album.html";
      bench_album::Make(album.folder, album.templatePath, pictures);
    }
  }
  ~Albums() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

const Album& AlbumOf(int pictures) {
  static const Albums albums;
  return albums.bySize.at(pictures);
}

// One object from the class factory, as a host keeps it.
struct Component {
  ComPtr<IAlbumMaker> maker;
  Component() {
    ModuleInit(AlbumObjectMap(), nullptr);
    ComPtr<IClassFactory> factory;
    if (DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()) != S_OK ||
        factory->CreateInstance(nullptr, kIidAlbumMaker, maker.put_void()) != S_OK)
      std::abort();
  }
  ~Component() {
    maker.reset();
    ModuleTerm();
  }
};

Component& TheComponent() {
  static Component component;
  return component;
}

void BM_Page(benchmark::State& state) {
  const int pictures = static_cast<int>(state.range(0));
  const Album& album = AlbumOf(pictures);
  IAlbumMaker* maker = TheComponent().maker.get();
  UniqueBstr folder(SysAllocString(AsOle(album.folder.u16string().c_str())));
  UniqueBstr templ(SysAllocString(AsOle(album.templatePath.u16string().c_str())));
  maker->put_FolderPath(folder.get());
  maker->put_PageTemplatePath(templ.get());
  VARIANT keep;
  VariantInit(&keep);
  V_VT(&keep) = VT_NULL;
  int i = 0;
  for (auto _ : state) {
    VARIANT position;
    VariantInit(&position);
    V_VT(&position) = VT_I4;
    V_I4(&position) = i++ % pictures;
    BSTR page = nullptr;
    if (maker->getAlbumPage(position, keep, keep, &page) != S_OK || SysStringLen(page) < 16000)
      state.SkipWithError("no complete page");
    benchmark::DoNotOptimize(page);
    SysFreeString(page);
  }
}

// The floor, as C.
bool IsPicture(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot != nullptr &&
         (strcasecmp(dot + 1, "jpg") == 0 || strcasecmp(dot + 1, "jpeg") == 0 || strcasecmp(dot + 1, "gif") == 0);
}

int CompareIgnoringCase(const void* a, const void* b) {
  return strcasecmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

void BM_Floor(benchmark::State& state) {
  const Album& album = AlbumOf(static_cast<int>(state.range(0)));
  const std::string folder = album.folder.string();
  const std::string templ = album.templatePath.string();
  for (auto _ : state) {
    std::size_t used = 0, room = 4096, count = 0, slots = 64;
    char* names = static_cast<char*>(std::malloc(room));
    std::size_t* starts = static_cast<std::size_t*>(std::malloc(slots * sizeof(std::size_t)));
    DIR* dir = opendir(folder.c_str());
    while (const dirent* e = readdir(dir)) {
      if (!IsPicture(e->d_name)) continue;
      const std::size_t length = std::strlen(e->d_name) + 1;
      if (used + length > room) names = static_cast<char*>(std::realloc(names, room *= 2));
      if (count == slots) starts = static_cast<std::size_t*>(std::realloc(starts, (slots *= 2) * sizeof(std::size_t)));
      std::memcpy(names + used, e->d_name, length);
      starts[count++] = used;
      used += length;
    }
    closedir(dir);
    char** sorted = static_cast<char**>(std::malloc(count * sizeof(char*)));
    for (std::size_t i = 0; i < count; ++i) sorted[i] = names + starts[i];
    std::qsort(sorted, count, sizeof(char*), CompareIgnoringCase);

    const int fd = open(templ.c_str(), O_RDONLY);
    struct stat st;
    fstat(fd, &st);
    const auto size = static_cast<std::size_t>(st.st_size);
    char* bytes = static_cast<char*>(std::malloc(size + 1));
    const ssize_t got = read(fd, bytes, size);
    close(fd);
    char16_t* text = static_cast<char16_t*>(std::malloc((size + 1) * sizeof(char16_t)));
    for (ssize_t i = 0; i < got; ++i) text[i] = static_cast<unsigned char>(bytes[i]);
    benchmark::DoNotOptimize(sorted[count / 2]);
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
    std::free(text);
    std::free(bytes);
    std::free(sorted);
    std::free(starts);
    std::free(names);
  }
}

BENCHMARK(BM_Page)->Arg(20)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor)->Arg(20)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Keeps the median CPU time of each benchmark (the single run when there are
// no repetitions) and prints page / floor per album.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || run.run_type == Run::RT_Iteration) {
        std::string name = run.run_name.str();
        if (median || !medians_.count(name)) medians_[name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // False when a ratio is missing or over its target.
  bool PrintRatios() const {
    bool met = true;
    for (const int pictures : kSizes) {
      const auto page = medians_.find("BM_Page/" + std::to_string(pictures));
      const auto floor = medians_.find("BM_Floor/" + std::to_string(pictures));
      const double target = pictures <= 20 ? 1.5 : 1.2;
      if (page == medians_.end() || floor == medians_.end() || floor->second <= 0) {
        std::printf("page / floor, %5d pictures: not measured\n", pictures);
        met = false;
        continue;
      }
      const double ratio = page->second / floor->second;
      met = met && ratio <= target;
      std::printf("page / floor, %5d pictures: %.2fx (%.1f us / %.1f us; target <= %.1fx)\n", pictures, ratio,
                  page->second, floor->second, target);
    }
    return met;
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=9";
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char aggregates[] = "--benchmark_report_aggregates_only=true";
  if (argc == 1) args.insert(args.end(), {repetitions, interleave, aggregates});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  for (const int pictures : kSizes) AlbumOf(pictures);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const bool met = reporter.PrintRatios();
  benchmark::Shutdown();
  return met ? 0 : 2;
}
