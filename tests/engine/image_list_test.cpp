#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "image_list.h"
#include "temp_folder.h"

namespace albummaker {
namespace {

using testing::TempFolder;

TEST(CompareNames, AsciiCaseIgnoredOthersByUnit) {
  EXPECT_EQ(CompareNames(u"a.jpg", u"A.JPG"), 0);
  EXPECT_EQ(CompareNames(u"", u""), 0);
  EXPECT_LT(CompareNames(u"img10.jpg", u"img2.jpg"), 0);
  EXPECT_LT(CompareNames(u"img.jpg", u"img1.jpg"), 0);
  EXPECT_LT(CompareNames(u"a.gif", u"a.jpg"), 0);
  EXPECT_LT(CompareNames(u"photo.jpeg", u"photo.jpg"), 0);
  // The six units between 'Z' and 'a' sort before every letter.
  EXPECT_LT(CompareNames(u"_z", u"A"), 0);
  EXPECT_LT(CompareNames(u"[", u"a"), 0);
  EXPECT_LT(CompareNames(u"`", u"Z"), 0);
  // No folding outside ASCII.
  EXPECT_NE(CompareNames(u"\u00c9", u"\u00e9"), 0);
  // A prefix sorts first; the difference is the mapped unit.
  EXPECT_EQ(CompareNames(u"ab", u"abC"), -static_cast<int>(u'c'));
  EXPECT_EQ(CompareNames(u"abC", u"ab"), static_cast<int>(u'c'));
  // Units compare unsigned: U+FFFF sorts after ASCII.
  EXPECT_GT(CompareNames(u"\uffff", u"z"), 0);
  EXPECT_EQ(CompareNames(u"\uffff", u"a"), 0xFFFF - 0x61);
}

TEST(CompareNames, CaseOnlyDifferencesAnywhereAreSkipped) {
  // A case-only difference at c, then a real one at d (or none), at every
  // place within and across the four-unit runs the compare skips.
  for (std::size_t c = 0; c < 10; ++c) {
    for (std::size_t d = c + 1; d <= 10; ++d) {
      std::u16string a(10, u'k'), b(10, u'k');
      b[c] = u'K';
      if (d < 10) b[d] = u'm';
      EXPECT_EQ(CompareNames(a, b), d < 10 ? static_cast<int>(u'k') - static_cast<int>(u'm') : 0) << c << ' ' << d;
      EXPECT_EQ(CompareNames(b, a), d < 10 ? static_cast<int>(u'm') - static_cast<int>(u'k') : 0) << c << ' ' << d;
    }
  }
}

TEST(FindName, FindsCaseInsensitiveAndMissesOthers) {
  const ImageList list = {u"_z.jpg", u"A.jpg", u"a1.jpeg", u"b.gif", u"Img10.jpg", u"img2.JPG"};
  EXPECT_EQ(FindName(list, u"IMG2.jpg"), 5u);
  EXPECT_EQ(FindName(list, u"_z.jpg"), 0u);
  EXPECT_EQ(FindName(list, u"a.JPG"), 1u);
  EXPECT_EQ(FindName(list, u"img3.jpg"), kNoPosition);
  EXPECT_EQ(FindName(list, u""), kNoPosition);
  EXPECT_EQ(FindName(list, u"zzz.jpg"), kNoPosition);
  EXPECT_EQ(FindName(ImageList{}, u"a.jpg"), kNoPosition);
  const ImageList accented = {u"caf\u00e9.jpg"};
  EXPECT_EQ(FindName(accented, u"CAF\u00e9.jpg"), 0u);
  EXPECT_EQ(FindName(accented, u"caf\u00c9.jpg"), kNoPosition);
}

TEST(FindName, EqualNamesGiveTheFirstInListOrder) {
  const ImageList list = {u"a.jpg", u"B.jpg", u"b.JPG", u"b.jpg", u"c.jpg"};
  EXPECT_EQ(FindName(list, u"b.jpg"), 1u);
  // Every size of list: each entry is found at its own (first) position.
  for (std::size_t n = 1; n < 40; ++n) {
    ImageList many;
    for (std::size_t i = 0; i < n; ++i) many.push_back(u"n" + std::u16string(i + 1, u'x'));
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(FindName(many, many[i]), i) << n;
    EXPECT_EQ(FindName(many, u"n"), kNoPosition);
  }
}

TEST(ScanFolder, ListsPicturesSortedByName) {
  TempFolder dir;
  for (const char16_t* name : {u"b.gif", u"A.jpg", u"a1.jpeg", u"_z.jpg", u"Img10.jpg", u"img2.JPG"})
    dir.Write(std::filesystem::path(name));
  ImageList list = {u"stale.jpg"};
  ScanFolder(dir.Wide(), list);
  const ImageList expected = {u"_z.jpg", u"A.jpg", u"a1.jpeg", u"b.gif", u"Img10.jpg", u"img2.JPG"};
  EXPECT_EQ(list, expected);
}

TEST(ScanFolder, ExtensionsInAnyCaseOnlyPictures) {
  TempFolder dir;
  for (const char16_t* name :
       {u"a.JPEG", u"b.Gif", u"c.jPg", u"d.png", u"e.jpe", u"f.bmp", u"g.jpg.txt", u"h", u"jpg", u"k.jpg"})
    dir.Write(std::filesystem::path(name));
  ImageList list;
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list, (ImageList{u"a.JPEG", u"b.Gif", u"c.jPg", u"k.jpg"}));
}

TEST(ScanFolder, DirectoriesNamedLikePicturesAreLeftOut) {
  TempFolder dir;
  std::filesystem::create_directory(dir / "x.jpg");
  std::filesystem::create_directory(dir / "y.GIF");
  dir.Write("inside.jpg");
  dir.Write("x.jpg/nested.jpg");
  ImageList list;
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list, (ImageList{u"inside.jpg"}));
}

TEST(ScanFolder, NonAsciiNamesArriveAsUtf16) {
  TempFolder dir;
  dir.Write(std::filesystem::path(u"Caf\u00e9.jpeg"));
  dir.Write(std::filesystem::path(u"\u0416uk.gif"));
  dir.Write(std::filesystem::path(u"smile\U0001F600.jpg"));
  ImageList list;
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list, (ImageList{u"Caf\u00e9.jpeg", u"smile\U0001F600.jpg", u"\u0416uk.gif"}));
}

TEST(ScanFolder, TrailingSeparatorGivesTheSameList) {
  TempFolder dir;
  dir.Write("one.jpg");
  dir.Write("two.gif");
  ImageList plain, trailing;
  ScanFolder(dir.Wide(), plain);
  ScanFolder(dir.Wide() + static_cast<char16_t>(std::filesystem::path::preferred_separator), trailing);
  EXPECT_EQ(plain.size(), 2u);
  EXPECT_EQ(plain, trailing);
}

TEST(ScanFolder, MissingEmptyAndFilePathsGiveNothing) {
  TempFolder dir;
  const auto file = dir.Write("plain.jpg");
  ImageList list = {u"stale.jpg"};
  ScanFolder((dir / "missing").u16string(), list);
  EXPECT_TRUE(list.empty());
  list = {u"stale.jpg"};
  ScanFolder(u"", list);
  EXPECT_TRUE(list.empty());
  ScanFolder(file.u16string(), list);
  EXPECT_TRUE(list.empty());
  TempFolder emptyDir;
  ScanFolder(emptyDir.Wide(), list);
  EXPECT_TRUE(list.empty());
}

TEST(ScanFolder, ChangesShowInTheNextScan) {
  TempFolder dir;
  dir.Write("a.jpg");
  ImageList list;
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list.size(), 1u);
  dir.Write("b.jpg");
  std::filesystem::remove(dir / "a.jpg");
  ScanFolder(dir.Wide(), list);
  EXPECT_EQ(list, (ImageList{u"b.jpg"}));
}

}  // namespace
}  // namespace albummaker
