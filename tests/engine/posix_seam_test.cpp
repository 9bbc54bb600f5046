// Linux-only behaviour of the folder listing and the template file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "album_engine.h"
#include "platform_seam.h"
#include "read_file.h"
#include "temp_folder.h"

namespace albummaker {
namespace {

using testing::TempFolder;
namespace fs = std::filesystem;

std::vector<std::pair<std::u16string, bool>> List(const std::u16string& folder) {
  constexpr std::u16string_view kExt[] = {u"jpg", u"jpeg", u"gif"};
  std::vector<std::pair<std::u16string, bool>> entries;
  seam::ListFolder(folder, kExt, 3, [&](std::u16string_view name, bool skip) { entries.emplace_back(name, skip); });
  std::sort(entries.begin(), entries.end());
  return entries;
}

TEST(PosixListing, DotFilesAreReportedHidden) {
  TempFolder dir;
  dir.Write(".hidden.jpg");
  dir.Write(".jpg");
  dir.Write("shown.jpg");
  using Entries = std::vector<std::pair<std::u16string, bool>>;
  EXPECT_EQ(List(dir.Wide()), (Entries{{u".hidden.jpg", true}, {u".jpg", true}, {u"shown.jpg", false}}));
  ImageList list;
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list, (ImageList{u"shown.jpg"}));
}

TEST(PosixListing, ExtensionIsThePartAfterTheLastDot) {
  TempFolder dir;
  for (const char* name : {"a.gifx", "b.jpg.png", "c.png.JPG", "d.", "e.Jpeg"}) dir.Write(name);
  ImageList list;
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list, (ImageList{u"c.png.JPG", u"e.Jpeg"}));
}

TEST(PosixListing, SymbolicLinksAreFollowed) {
  TempFolder dir;
  fs::create_directory(dir / "realdir");
  dir.Write("target.bin", "x");
  fs::create_directory_symlink(dir / "realdir", dir / "x.jpg");
  fs::create_symlink(dir / "target.bin", dir / "y.jpg");
  fs::create_symlink(dir / "nothing-here", dir / "z.gif");
  ImageList list;
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list, (ImageList{u"y.jpg"}));

  // A link to the folder itself lists the same album.
  TempFolder other;
  fs::create_directory_symlink(dir.Path(), other / "album");
  ImageList viaLink;
  ScanFolder((other / "album").u16string(), viaLink);
  EXPECT_EQ(viaLink, list);
}

TEST(PosixListing, NamesThatAreNotUtf8RoundTrip) {
  TempFolder dir;
  // "\xff" and a lone continuation byte are not UTF-8; "\xc3\xa9" is.
  dir.Write(fs::path(std::string("bad\xff\x80-\xc3\xa9.jpg")), "");
  // An overlong encoding of "/" and a UTF-8-encoded surrogate are not UTF-8 either.
  dir.Write(fs::path(std::string("ov\xc0\xaf\xed\xa0\x80.gif")), "");
  ImageList list;
  ScanFolder(dir.Wide(), list);
  const std::u16string bad = u"bad\xDCFF\xDC80-\u00e9.jpg";
  const std::u16string overlong = u"ov\xDCC0\xDCAF\xDCED\xDCA0\xDC80.gif";
  EXPECT_EQ(list, (ImageList{bad, overlong}));

  // The same units name the same bytes again: a folder and a template whose
  // names are not UTF-8 can be used.
  fs::create_directory(dir / std::string("f\xfe"));
  const fs::path templ = dir / std::string("f\xfe") / std::string("t\xfd.html");
  std::ofstream(templ, std::ios::binary) << "^tq_CurrentFileName^";
  dir.Write(std::string("f\xfe/p\xfc.jpg"), "");
  AlbumEngine engine;
  const std::u16string folder = dir.Wide() + u"/f\xDCFE";
  engine.SetFolderPath(folder.c_str());
  const std::u16string templatePath = folder + u"/t\xDCFD.html";
  engine.SetPageTemplatePath(templatePath.c_str());
  EXPECT_EQ(engine.RenderPageByIndex(0), u"p&#56572;.jpg");
}

TEST(PosixTemplateFile, OpenRejectsFoldersAndEmptyPaths) {
  TempFolder dir;
  seam::ReadOnlyFile file;
  EXPECT_FALSE(file.Open(u""));
  EXPECT_FALSE(file.Open(dir.Wide()));
  EXPECT_FALSE(file.Open((dir / "missing").u16string()));
  EXPECT_FALSE(file.IsOpen());
  const auto path = dir.Write("t.html", "hello");
  ASSERT_TRUE(file.Open(path.u16string()));
  std::uint64_t size = 0;
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 5u);
  char buffer[16] = {};
  std::uint32_t got = 0, error = 0;
  // Asking for more than the file holds delivers what it holds.
  ASSERT_TRUE(file.Read(buffer, sizeof buffer, got, error));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(buffer, got), "hello");
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Read(buffer, 1, got, error));
  EXPECT_EQ(error, 6u);
}

TEST(PosixTemplateFile, FifoWithoutWriterDoesNotHang) {
  TempFolder dir;
  dir.Write("a.jpg");
  const fs::path fifo = dir / "t.html";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  AlbumEngine engine;
  engine.SetFolderPath(dir.Wide().c_str());
  engine.SetPageTemplatePath(fifo.u16string().c_str());
  auto page = std::async(std::launch::async, [&engine] { return engine.RenderPageByIndex(0); });
  if (page.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Release the blocked open so the test can end, then fail.
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd >= 0) close(fd);
    page.wait();
    FAIL() << "opening a FIFO as the template blocked";
  }
  EXPECT_EQ(page.get(), u"");
}

TEST(PosixTemplateFile, ShortReadUsesOnlyTheBytesDelivered) {
  // sysfs reports a size of a page for files that deliver a few bytes.
  const fs::path online = "/sys/devices/system/cpu/online";
  std::error_code ec;
  if (!fs::exists(online, ec) || fs::file_size(online, ec) <= 16) GTEST_SKIP() << "no sysfs file with a padded size";
  const std::string content = testing::ReadFile(online);
  ASSERT_FALSE(content.empty());
  ASSERT_LT(content.size(), fs::file_size(online));
  TempFolder dir;
  dir.Write("a.jpg");
  AlbumEngine engine;
  engine.SetFolderPath(dir.Wide().c_str());
  engine.SetPageTemplatePath(online.u16string().c_str());
  EXPECT_EQ(engine.RenderPageByIndex(0), std::u16string(content.begin(), content.end()));
}

TEST(PosixTemplateFile, OneReadDeliversMoreThanTheSystemReadsAtOnce) {
  // Linux moves at most 0x7FFFF000 bytes per read(); a template just longer
  // than that must still arrive whole, its last bytes included.
#if defined(__SANITIZE_THREAD__)
  // One thread, nothing to race; the thread checker's shadow of 2 GiB would
  // cost tens of seconds.
  GTEST_SKIP() << "single-threaded; left to the other builds";
#endif
  constexpr std::uint64_t kSize = 0x7FFFF000ull + 4096;
  TempFolder dir;
  const auto big = dir.Write("big.html");
  {
    std::error_code ec;
    fs::resize_file(big, kSize - 3, ec);  // sparse: no disk space used
    if (ec) GTEST_SKIP() << "cannot make a sparse file here: " << ec.message();
    std::ofstream tail(big, std::ios::binary | std::ios::app);
    tail.write("END", 3);
  }
  seam::ReadOnlyFile file;
  ASSERT_TRUE(file.Open(big.u16string()));
  std::uint64_t size = 0;
  ASSERT_TRUE(file.Size(size));
  ASSERT_EQ(size, kSize);
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kSize]);
  if (!buffer) GTEST_SKIP() << "no memory for a 2 GiB buffer";
  std::uint32_t bytesRead = 0;
  std::uint32_t errorNumber = 0;
  ASSERT_TRUE(file.Read(buffer.get(), static_cast<std::uint32_t>(kSize), bytesRead, errorNumber));
  EXPECT_EQ(errorNumber, 0u);
  ASSERT_EQ(bytesRead, kSize);
  EXPECT_EQ(std::string(buffer.get() + kSize - 3, 3), "END");
}

TEST(PosixTemplateFile, FourGibibytesOrMoreRaisesNoMemory) {
  TempFolder dir;
  dir.Write("a.jpg");
  const auto big = dir.Write("big.html", "^tq_CurrentFileName^");
  std::error_code ec;
  fs::resize_file(big, 0x100000000ull + 20, ec);  // sparse: no disk space used
  if (ec) GTEST_SKIP() << "cannot make a sparse file here: " << ec.message();
  AlbumEngine engine;
  engine.SetFolderPath(dir.Wide().c_str());
  engine.SetPageTemplatePath(big.u16string().c_str());
  try {
    engine.RenderPageByIndex(0);
    FAIL() << "a template of 4 GiB was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "No memory available to serve the request. Error number: 2147942414 (0x8007000E)");
  }
}

}  // namespace
}  // namespace albummaker
