// Folder listing on the real file system: attributes, path forms and the
// "\\?\" rule, which only Windows (here Wine) can show.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "image_list.h"
#include "platform_seam.h"
#include "win_temp.h"

namespace albummaker {
namespace {

using wintest::AsU16;
using wintest::WinTempFolder;

constexpr std::u16string_view kExtensions[] = {u"jpg", u"jpeg", u"gif"};

struct Entry {
  std::u16string name;
  bool skip;
};

std::vector<Entry> List(const std::u16string& folder) {
  std::vector<Entry> entries;
  seam::ListFolder(folder, kExtensions, std::size(kExtensions), [&](std::u16string_view name, bool skip) {
    entries.push_back({std::u16string(name), skip});
  });
  return entries;
}

ImageList Scan(const std::u16string& folder) {
  ImageList list{u"stale.jpg"};
  ScanFolder(folder, list);
  return list;
}

class WindowsFolderListing : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Created()); }
  void Write(std::wstring_view leaf) { ASSERT_TRUE(dir_.Write(leaf)) << "cannot create a test file"; }
  void SetAttributes(std::wstring_view leaf, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW((dir_ / leaf).c_str(), attributes)) << GetLastError();
  }
  WinTempFolder dir_;
};

TEST_F(WindowsFolderListing, SkipsDirectoriesHiddenAndSystemButListsReadOnlyAndArchive) {
  for (const wchar_t* leaf : {L"a.jpg", L"r.jpg", L"ar.gif", L"h.jpg", L"s.jpeg", L"hs.jpg"}) Write(leaf);
  SetAttributes(L"r.jpg", FILE_ATTRIBUTE_READONLY);
  SetAttributes(L"ar.gif", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  SetAttributes(L"h.jpg", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(L"s.jpeg", FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(L"hs.jpg", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  ASSERT_TRUE(dir_.MakeFolder(L"d.jpg"));

  std::map<std::u16string, bool> skipOf;
  for (const Entry& e : List(dir_.U16())) {
    EXPECT_FALSE(skipOf.count(e.name)) << "reported twice";
    skipOf[e.name] = e.skip;
  }
  const std::map<std::u16string, bool> expected{{u"a.jpg", false}, {u"r.jpg", false}, {u"ar.gif", false},
                                                {u"h.jpg", true},  {u"s.jpeg", true}, {u"hs.jpg", true},
                                                {u"d.jpg", true}};
  EXPECT_EQ(skipOf, expected);
  EXPECT_EQ(Scan(dir_.U16()), (ImageList{u"a.jpg", u"ar.gif", u"r.jpg"}));
}

TEST_F(WindowsFolderListing, MatchesExtensionsWithoutCaseOnePatternAfterAnother) {
  for (const wchar_t* leaf :
       {L"d.GIF", L"c.jpeg", L"A.JPG", L"b.Jpg", L"e.png", L"f.jpe", L"g.bmp", L"h.jpg.txt", L"jpg"})
    Write(leaf);

  // (Longer extensions such as "gifs" are left out: the platform may match
  // them through their short names, as "*.gif" matches "I~1.GIF".)
  std::vector<std::u16string> names;
  for (const Entry& e : List(dir_.U16())) names.push_back(e.name);
  // The jpg pattern's entries (in the platform's order), then jpeg, then gif.
  ASSERT_EQ(names.size(), 4u) << ::testing::PrintToString(names);
  std::vector<std::u16string> jpgs(names.begin(), names.begin() + 2);
  std::sort(jpgs.begin(), jpgs.end());
  EXPECT_EQ(jpgs, (std::vector<std::u16string>{u"A.JPG", u"b.Jpg"}));
  EXPECT_EQ(names[2], u"c.jpeg");
  EXPECT_EQ(names[3], u"d.GIF");

  EXPECT_EQ(Scan(dir_.U16()), (ImageList{u"A.JPG", u"b.Jpg", u"c.jpeg", u"d.GIF"}));
}

TEST_F(WindowsFolderListing, DriveLetterPathWithAndWithoutTrailingBackslash) {
  for (const wchar_t* leaf : {L"b.gif", L"A.jpg", L"a1.jpeg", L"_z.jpg", L"Img10.jpg", L"img2.JPG"}) Write(leaf);
  const std::u16string path = dir_.U16();
  ASSERT_GE(path.size(), 3u);
  ASSERT_EQ(path.substr(1, 2), u":\\") << "the temp folder is expected on a drive letter";

  const ImageList expected{u"_z.jpg", u"A.jpg", u"a1.jpeg", u"b.gif", u"Img10.jpg", u"img2.JPG"};
  EXPECT_EQ(Scan(path), expected);
  EXPECT_EQ(Scan(path + u"\\"), expected);
}

TEST_F(WindowsFolderListing, PathsThePrefixDoesNotNormaliseListNothing) {
  Write(L"a.jpg");
  std::u16string forward = dir_.U16();
  std::replace(forward.begin(), forward.end(), u'\\', u'/');
  EXPECT_TRUE(Scan(forward).empty()) << "forward slashes are not separators behind \\\\?\\";
  EXPECT_TRUE(Scan(dir_.U16() + u"/").empty()) << "a trailing forward slash is not a separator";
  EXPECT_TRUE(Scan(dir_.U16() + u"\\.\\").empty()) << "no . resolution behind \\\\?\\";

  // Relative paths, including the empty one, name no folder even when the
  // current folder holds pictures.
  wchar_t previous[MAX_PATH + 1];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, previous);
  ASSERT_GT(n, 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(dir_.Path().c_str()));
  const ImageList fromEmpty = Scan(u"");
  const ImageList fromDot = Scan(u".");
  const ImageList fromRelative = Scan(u"..\\" + AsU16(dir_.Path().substr(dir_.Path().rfind(L'\\') + 1)));
  SetCurrentDirectoryW(previous);
  EXPECT_TRUE(fromEmpty.empty());
  EXPECT_TRUE(fromDot.empty());
  EXPECT_TRUE(fromRelative.empty());
}

TEST_F(WindowsFolderListing, MissingFolderListsNothing) {
  EXPECT_TRUE(List(dir_.U16() + u"\\absent").empty());
  EXPECT_TRUE(Scan(dir_.U16() + u"\\absent\\").empty());
}

TEST_F(WindowsFolderListing, FolderDeeperThanMaxPathIsListed) {
  // The prefix lifts the 260-unit limit of ordinary paths.
  std::wstring deep = dir_.Path();
  while (deep.size() < MAX_PATH + 40) {
    deep += L"\\" + std::wstring(50, L'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << GetLastError();
  }
  ASSERT_TRUE(WinTempFolder::WriteFile(deep + L"\\deep.jpg"));
  EXPECT_EQ(Scan(AsU16(deep)), (ImageList{u"deep.jpg"}));
}

TEST_F(WindowsFolderListing, NonAsciiNamesArriveAsStored) {
  const std::wstring name = L"\u00C9t\u00E9 \u65E5\u672C.jpg";
  Write(name);
  EXPECT_EQ(Scan(dir_.U16()), (ImageList{AsU16(name)}));
}

}  // namespace
}  // namespace albummaker
