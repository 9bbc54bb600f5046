// Engine costs against their floors, measured in one run:
//  - rendering a page of a 10,000-picture album with a 16 KiB template,
//    against listing the folder with readdir (no stat, extension filter) and
//    sorting the names;
//  - filling a 1 MiB template holding 10,000 placeholders, against copying
//    1 MiB once.
// The ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "album_engine.h"
#include "page_template.h"

namespace {

namespace fs = std::filesystem;
using albummaker::AlbumEngine;
using albummaker::PageTemplate;

constexpr int kPictures = 10000;

struct Album {
  fs::path root;
  fs::path folder;
  fs::path templatePath;

  Album() {
    root = fs::temp_directory_path() / ("am-bench-" + std::to_string(std::random_device{}()));
    folder = root / "pictures";
    fs::create_directories(folder);
    const char* extensions[] = {".jpg", ".JPG", ".jpeg", ".gif"};
    char name[64];
    for (int i = 0; i < kPictures; ++i) {
      std::snprintf(name, sizeof name, "Holiday %05d%s", (i * 7919) % kPictures, extensions[i % 4]);
      std::ofstream(folder / name, std::ios::binary);
    }
    // A page of about 16 KiB with every placeholder and both sections.
    std::string page =
        "<!DOCTYPE html>\n<html><head><title>^tq_CurrentFileNameWithoutExtension^</title></head><body>\n"
        "<h1>^tq_CurrentFileNameWithoutExtension^</h1>\n<img src=\"pictures/^tq_CurrentFileName^\">\n"
        "<p>Picture ^tq_FileOrdinalNumber^ of ^tq_TotalFilesCount^</p>\n"
        "<!--tq_LinkToPreviousStart--><a href=\"?file=^tq_UrlEncodedPreviousFileName^\">Previous</a>"
        "<!--tq_LinkToPreviousEnd-->\n"
        "<!--tq_LinkToNextStart--><a href=\"?file=^tq_UrlEncodedNextFileName^\">Next</a><!--tq_LinkToNextEnd-->\n";
    while (page.size() < 16 * 1024 - 64)
      page += "<p class=\"filler\">Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p>\n";
    page += "</body></html>\n";
    templatePath = root / "album.html";
    std::ofstream(templatePath, std::ios::binary) << page;
  }
  ~Album() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

const Album& TheAlbum() {
  static const Album album;
  return album;
}

bool IsPictureName(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return false;
  return strcasecmp(dot + 1, "jpg") == 0 || strcasecmp(dot + 1, "jpeg") == 0 || strcasecmp(dot + 1, "gif") == 0;
}

void BM_ListAndSortFloor(benchmark::State& state) {
  const std::string folder = TheAlbum().folder.string();
  for (auto _ : state) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    while (const dirent* e = readdir(dir))
      if (IsPictureName(e->d_name)) names.emplace_back(e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    benchmark::DoNotOptimize(names.data());
  }
}
BENCHMARK(BM_ListAndSortFloor)->Unit(benchmark::kMicrosecond);

void BM_RenderPage(benchmark::State& state) {
  AlbumEngine engine;
  engine.SetFolderPath(TheAlbum().folder.u16string().c_str());
  engine.SetPageTemplatePath(TheAlbum().templatePath.u16string().c_str());
  if (engine.RenderPageByIndex(5000).size() < 16000) state.SkipWithError("the page is incomplete");
  for (auto _ : state) {
    std::u16string page = engine.RenderPageByIndex(5000);
    benchmark::DoNotOptimize(page.data());
  }
}
BENCHMARK(BM_RenderPage)->Unit(benchmark::kMicrosecond);

constexpr std::size_t kFillBytes = 1 << 20;

// 1 MiB of UTF-16 text with 10,000 placeholders of one name spread through it.
std::u16string FillText(const std::u16string& token) {
  const std::u16string filler = u"<td class=\"cell\">lorem ipsum dolor</td>";
  std::u16string text;
  const std::size_t units = kFillBytes / sizeof(char16_t);
  const std::size_t gap = units / 10000 - token.size();
  for (int i = 0; i < 10000; ++i) {
    for (std::size_t n = 0; n < gap; n += filler.size()) text.append(filler, 0, std::min(filler.size(), gap - n));
    text += token;
  }
  text.resize(units, u' ');
  return text;
}

void BM_CopyFloor(benchmark::State& state) {
  const std::u16string text = FillText(u"^tq_NameA^");
  std::unique_ptr<char16_t[]> target(new char16_t[text.size()]);
  for (auto _ : state) {
    std::memcpy(target.get(), text.data(), text.size() * sizeof(char16_t));
    benchmark::DoNotOptimize(target.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFillBytes);
}
BENCHMARK(BM_CopyFloor)->Unit(benchmark::kMicrosecond);

void BM_FillPlaceholders(benchmark::State& state) {
  // Two names with tokens of one length trade places, so every fill replaces
  // all 10,000 tokens of a 1 MiB text.
  PageTemplate page(FillText(u"^tq_NameA^"));
  std::size_t replaced = 0;
  for (auto _ : state) {
    replaced += page.SetPlaceholder(u"NameA", u"^tq_NameB^");
    replaced += page.SetPlaceholder(u"NameB", u"^tq_NameA^");
  }
  if (replaced != static_cast<std::size_t>(state.iterations()) * 20000) state.SkipWithError("wrong count");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kFillBytes);
}
BENCHMARK(BM_FillPlaceholders)->Unit(benchmark::kMicrosecond);

// The same text with values longer than the tokens, so the text grows and is
// built anew by each fill (informative; the ratio uses the fill above).
void BM_FillPlaceholdersGrowing(benchmark::State& state) {
  const std::u16string text = FillText(u"^tq_NameA^");
  for (auto _ : state) {
    PageTemplate page(text);
    benchmark::DoNotOptimize(page.SetPlaceholder(u"NameA", u"Salt+%26+Pepper%2Egif"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFillBytes);
}
BENCHMARK(BM_FillPlaceholdersGrowing)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      double seconds = run.GetAdjustedCPUTime();
      // The fill benchmark does two fills per iteration.
      if (run.benchmark_name().rfind("BM_FillPlaceholders", 0) == 0) seconds /= 2;
      times_[run.benchmark_name()] = seconds;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Ratios() const {
    const auto at = [this](const char* name) {
      const auto it = times_.find(name);
      return it == times_.end() ? 0.0 : it->second;
    };
    if (at("BM_RenderPage") > 0 && at("BM_ListAndSortFloor") > 0)
      std::printf("render / listing floor: %.2fx (target <= 1.30x)\n", at("BM_RenderPage") / at("BM_ListAndSortFloor"));
    if (at("BM_FillPlaceholders") > 0 && at("BM_CopyFloor") > 0)
      std::printf("fill speed / copy speed: %.2f (target >= 0.25)\n", at("BM_CopyFloor") / at("BM_FillPlaceholders"));
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheAlbum();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.Ratios();
  benchmark::Shutdown();
  return 0;
}
