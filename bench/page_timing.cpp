// The time of one page on any platform, without Google Benchmark (which the
// Windows cross build lacks): getAlbumPage by position through the
// IAlbumMaker vtable of one object from the class factory, on an album of
// PICTURES pictures (default 1,000) with a 16 KiB template made in a
// temporary folder. Prints the median of 15 rounds of 200 pages, in
// microseconds per page, and the fastest and slowest round.
//
//   page_timing [PICTURES]
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "album_maker_interface.h"
#include "bench_album.h"
#include "class_factory.h"
#include "com_util.h"

namespace fs = std::filesystem;
using namespace albummaker::server;

int main(int argc, char** argv) {
  const int pictures = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (pictures <= 0) return 2;
  const fs::path root = fs::temp_directory_path() / ("am-page-timing-" + std::to_string(std::random_device{}()));
  const fs::path folder = root / "pictures";
  const fs::path templatePath = root / "album.html";
  bench_album::Make(folder, templatePath, pictures);

  int status = 0;
  ModuleInit(AlbumObjectMap(), nullptr);
  {
    ComPtr<IClassFactory> factory;
    ComPtr<IAlbumMaker> maker;
    if (DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()) != S_OK ||
        factory->CreateInstance(nullptr, kIidAlbumMaker, maker.put_void()) != S_OK)
      return 3;
    // The Windows form of a folder path: absolute, with backslashes.
    UniqueBstr folderText(SysAllocString(AsOle(fs::path(folder).make_preferred().u16string().c_str())));
    UniqueBstr templateText(SysAllocString(AsOle(fs::path(templatePath).make_preferred().u16string().c_str())));
    maker->put_FolderPath(folderText.get());
    maker->put_PageTemplatePath(templateText.get());
    VARIANT keep;
    VariantInit(&keep);
    V_VT(&keep) = VT_NULL;
    std::vector<double> rounds;
    int position = 0;
    for (int round = 0; round < 16 && status == 0; ++round) {
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < 200; ++i) {
        VARIANT selector;
        VariantInit(&selector);
        V_VT(&selector) = VT_I4;
        V_I4(&selector) = position++ % pictures;
        BSTR text = nullptr;
        if (maker->getAlbumPage(selector, keep, keep, &text) != S_OK || SysStringLen(text) < 16000) status = 4;
        SysFreeString(text);
      }
      const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
      if (round > 0) rounds.push_back(spent.count() / 200);  // the first round warms up
    }
    if (status == 0) {
      std::sort(rounds.begin(), rounds.end());
      std::printf("%d pictures: %.1f us per page (median of %zu rounds; %.1f to %.1f)\n", pictures,
                  rounds[rounds.size() / 2], rounds.size(), rounds.front(), rounds.back());
    } else {
      std::fprintf(stderr, "no complete page\n");
    }
  }
  ModuleTerm();
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return status;
}
