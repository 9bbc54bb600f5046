// The cost of the component's layer over the engine: getAlbumPage through the
// IAlbumMaker vtable (variant conversion, the object's path lock and the copy
// of both paths, the BSTR of the page) against AlbumEngine::RenderPageByIndex
// called directly, on the same album and template. Album sizes 20 and 1,000
// pictures; the small one makes the layer's share as large as it gets. Also
// single- and multi-threaded on one object, where the path lock is shared.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "album_engine.h"
#include "album_maker_interface.h"
#include "class_factory.h"
#include "com_util.h"

namespace {

namespace fs = std::filesystem;
using albummaker::AlbumEngine;
using namespace albummaker::server;

struct Album {
  fs::path root;
  fs::path folder;
  fs::path templatePath;

  explicit Album(int pictures) {
    root = fs::temp_directory_path() / ("am-server-bench-" + std::to_string(std::random_device{}()));
    folder = root / "pictures";
    fs::create_directories(folder);
    char name[64];
    for (int i = 0; i < pictures; ++i) {
      std::snprintf(name, sizeof name, "Holiday %05d.jpg", i);
      std::ofstream(folder / name, std::ios::binary);
    }
    std::string page =
        "<html><head><title>^tq_CurrentFileNameWithoutExtension^</title></head><body>\n"
        "<img src=\"pictures/^tq_CurrentFileName^\"><p>^tq_FileOrdinalNumber^ / ^tq_TotalFilesCount^</p>\n"
        "<!--tq_LinkToPreviousStart--><a href=\"?file=^tq_UrlEncodedPreviousFileName^\">Previous</a>"
        "<!--tq_LinkToPreviousEnd-->\n"
        "<!--tq_LinkToNextStart--><a href=\"?file=^tq_UrlEncodedNextFileName^\">Next</a><!--tq_LinkToNextEnd-->\n";
    while (page.size() < 4096) page += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p>\n";
    page += "</body></html>\n";
    templatePath = root / "album.html";
    std::ofstream(templatePath, std::ios::binary) << page;
  }
  ~Album() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

Album& AlbumOf(int pictures) {
  static std::map<int, std::unique_ptr<Album>> albums;
  static std::mutex lock;
  std::lock_guard hold(lock);
  auto& album = albums[pictures];
  if (!album) album = std::make_unique<Album>(pictures);
  return *album;
}

// One object for all threads of a run, as a web server's host keeps it.
struct Component {
  ComPtr<IAlbumMaker> maker;
  Component() {
    ModuleInit(AlbumObjectMap(), nullptr);
    ComPtr<IClassFactory> factory;
    if (DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()) != S_OK ||
        factory->CreateInstance(nullptr, kIidAlbumMaker, maker.put_void()) != S_OK) {
      std::abort();
    }
  }
  ~Component() {
    maker.reset();
    ModuleTerm();
  }
  void Use(const Album& album) {
    UniqueBstr folder(SysAllocString(AsOle(album.folder.u16string().c_str())));
    UniqueBstr templ(SysAllocString(AsOle(album.templatePath.u16string().c_str())));
    maker->put_FolderPath(folder.get());
    maker->put_PageTemplatePath(templ.get());
  }
};

Component& TheComponent() {
  static Component component;
  return component;
}

void BM_EngineDirect(benchmark::State& state) {
  const int pictures = static_cast<int>(state.range(0));
  Album& album = AlbumOf(pictures);
  AlbumEngine engine;
  engine.SetFolderPath(album.folder.u16string().c_str());
  engine.SetPageTemplatePath(album.templatePath.u16string().c_str());
  int i = 0;
  for (auto _ : state) {
    std::u16string page = engine.RenderPageByIndex(i++ % pictures);
    benchmark::DoNotOptimize(page.data());
  }
}

void BM_GetAlbumPageVtable(benchmark::State& state) {
  const int pictures = static_cast<int>(state.range(0));
  Album& album = AlbumOf(pictures);
  Component& component = TheComponent();
  if (state.thread_index() == 0) component.Use(album);
  VARIANT keep;
  VariantInit(&keep);
  V_VT(&keep) = VT_NULL;
  int i = 0;
  for (auto _ : state) {
    VARIANT selector;
    VariantInit(&selector);
    V_VT(&selector) = VT_I4;
    V_I4(&selector) = i++ % pictures;
    BSTR page = nullptr;
    if (component.maker->getAlbumPage(selector, keep, keep, &page) != S_OK) state.SkipWithError("render failed");
    benchmark::DoNotOptimize(page);
    SysFreeString(page);
  }
}

BENCHMARK(BM_EngineDirect)->Arg(20)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetAlbumPageVtable)->Arg(20)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineDirect)->Arg(20)->Threads(2)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetAlbumPageVtable)->Arg(20)->Threads(2)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
