// The albummaker program, run as a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "read_file.h"
#include "temp_folder.h"

namespace albummaker {
namespace {

using testing::ChildResult;
using testing::ReadFile;
using testing::RunChild;
using testing::TempFolder;
namespace fs = std::filesystem;

const std::string kSource = AM_SOURCE_DIR;
const std::string kAlbum = kSource + "/examples/album";
const std::string kTemplate = kSource + "/examples/album.html";

ChildResult Host(std::vector<std::string> args) {
  args.insert(args.begin(), AM_HOST_BINARY);
  ChildResult r = RunChild(args);
  EXPECT_FALSE(r.timedOut);
  return r;
}

TEST(RenderCommand, SampleAlbumFirstPageMatchesTheGoldenFile) {
  const ChildResult r = Host({"render", "--folder", kAlbum, "--template", kTemplate});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string golden = ReadFile(kSource + "/tests/host/sample_page0.html");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(r.out, golden);
  // Index 0 given explicitly is the same page.
  EXPECT_EQ(Host({"render", "--index", "0", "--template", kTemplate, "--folder", kAlbum}).out, golden);
}

TEST(RenderCommand, PagesByIndexAndByName) {
  TempFolder dir;
  for (const char* name : {"b.jpg", "a.jpg", "Caf\xc3\xa9.gif"}) dir.Write(name);
  const auto templ = dir.Write("t.html", "^tq_FileOrdinalNumber^:^tq_CurrentFileName^:\xe9");
  const std::string folder = dir.Path().string(), t = templ.string();
  // The page is UTF-8 on standard output with nothing added.
  EXPECT_EQ(Host({"render", "--folder", folder, "--template", t, "--index", "1"}).out, "2:b.jpg:\xc3\xa9");
  EXPECT_EQ(Host({"render", "--folder", folder, "--template", t, "--index", "-1"}).out, "1:a.jpg:\xc3\xa9");
  EXPECT_EQ(Host({"render", "--folder", folder, "--template", t, "--index", "99"}).out, "1:a.jpg:\xc3\xa9");
  EXPECT_EQ(Host({"render", "--folder", folder, "--template", t, "--name", "CAF\xc3\xa9.GIF"}).out,
            "3:Caf&#0233;.gif:\xc3\xa9");
  EXPECT_EQ(Host({"render", "--folder", folder, "--template", t, "--name", "B.jpg"}).out, "2:b.jpg:\xc3\xa9");
  EXPECT_EQ(Host({"render", "--folder", folder, "--template", t, "--name", "none.jpg"}).out, "1:a.jpg:\xc3\xa9");
  EXPECT_EQ(Host({"render", "--folder", folder, "--template", t, "--name", ""}).out, "1:a.jpg:\xc3\xa9");
}

TEST(RenderCommand, EmptyValuesAreValues) {
  TempFolder dir;
  dir.Write("a.jpg");
  const auto templ = dir.Write("t.html", "page");
  ChildResult r = Host({"render", "--folder", "", "--template", templ.string()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  r = Host({"render", "--folder", dir.Path().string(), "--template", ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  r = Host({"render", "--folder", dir.Path().string(), "--template", (dir / "missing.html").string()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  // The page stays empty, and the person is told why.
  EXPECT_EQ(r.err, "albummaker render: cannot read the template \"" + (dir / "missing.html").string() +
                       "\": No such file or directory\n");
}

TEST(RenderCommand, NamesAnUnreadableFolderOrTemplateOnStandardError) {
  TempFolder dir;
  fs::create_directory(dir / "album");
  dir.Write("album/a.jpg");
  const auto templ = dir.Write("t.html", "page");
  const std::string album = (dir / "album").string(), missing = (dir / "none").string();
  // As a new user tries it: nothing there, nothing on the page, exit 0, and
  // standard error names both.
  ChildResult r = Host({"render", "--folder", "/nonexistent", "--template", kTemplate});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "albummaker render: cannot read the folder \"/nonexistent\": No such file or directory\n");
  r = Host({"render", "--folder", missing, "--template", missing});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "albummaker render: cannot read the folder \"" + missing +
                       "\": No such file or directory\n"
                       "albummaker render: cannot read the template \"" +
                       missing + "\": No such file or directory\n");
  // A file given as the folder, a folder given as the template.
  r = Host({"render", "--folder", templ.string(), "--template", album});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "albummaker render: cannot read the folder \"" + templ.string() +
                       "\": Not a directory\n"
                       "albummaker render: cannot read the template \"" +
                       album + "\": it is a folder\n");
  // A readable folder without pictures is no error: the empty page says it.
  fs::create_directory(dir / "empty");
  r = Host({"render", "--folder", (dir / "empty").string(), "--template", templ.string()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  // Both readable: the page, and nothing said.
  r = Host({"render", "--folder", album, "--template", templ.string()});
  EXPECT_EQ(r.out, "page");
  EXPECT_EQ(r.err, "");
}

TEST(RenderCommand, VersionOnItsOwnAndInTheHelp) {
  const ChildResult r = Host({"--version"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "albummaker " AM_VERSION_STRING "\n");
  EXPECT_EQ(r.err, "");
  const ChildResult help = Host({"--help"});
  EXPECT_NE(help.out.find("albummaker --version"), std::string::npos) << help.out;
}

TEST(RenderCommand, ArgumentsThatAreNotUtf8ReachTheFileSystemUnchanged) {
  TempFolder dir;
  fs::create_directory(dir / std::string("pics\xff"));
  dir.Write(std::string("pics\xff/p\xfe.jpg"));
  const auto templ = dir.Write(std::string("t\xfd.html"), "[^tq_CurrentFileNameWithoutExtension^]");
  const ChildResult r = Host({"render", "--folder", (dir / std::string("pics\xff")).string(), "--template",
                              templ.string(), "--name", "P\xfe.JPG"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "[p&#56574;]");
}

TEST(RenderCommand, EngineErrorGoesToStandardErrorWithExitOne) {
  TempFolder dir;
  dir.Write("a.jpg");
  const auto big = dir.Write("big.html", "x");
  std::error_code ec;
  fs::resize_file(big, 0x100000000ull + 1, ec);
  if (ec) GTEST_SKIP() << "no sparse files here";
  const ChildResult r = Host({"render", "--folder", dir.Path().string(), "--template", big.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "No memory available to serve the request. Error number: 2147942414 (0x8007000E)\n");
}

TEST(RenderCommand, BadUsageExitsTwoWithUsageOnStandardError) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"render"},
      {"render", "--folder", "x"},
      {"render", "--template", "x"},
      {"render", "--folder", "x", "--template", "y", "--index", "1", "--name", "a"},
      {"render", "--folder", "x", "--template", "y", "--index", "abc"},
      {"render", "--folder", "x", "--template", "y", "--index", ""},
      {"render", "--folder", "x", "--template", "y", "--index", "2147483648"},
      {"render", "--folder", "x", "--template", "y", "--index", "1x"},
      {"render", "--folder", "x", "--template"},
      {"render", "--folder", "x", "--folder", "x", "--template", "y"},
      {"render", "--folder", "x", "--template", "y", "--colour", "red"},
      {"render", "--folder", "x", "--template", "y", "extra"},
  };
  for (const auto& args : bad) {
    const ChildResult r = Host(args);
    std::string shown;
    for (const auto& a : args) shown += "[" + a + "]";
    EXPECT_EQ(r.exitCode, 2) << shown;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_NE(r.err.find("Usage: albummaker"), std::string::npos) << shown;
  }
}

TEST(RenderCommand, HelpExplainsEveryOption) {
  const ChildResult top = Host({"--help"});
  EXPECT_EQ(top.exitCode, 0);
  EXPECT_NE(top.out.find("render"), std::string::npos);
  const ChildResult r = Host({"render", "--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* option : {"--folder", "--template", "--index", "--name", "--help"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace albummaker
