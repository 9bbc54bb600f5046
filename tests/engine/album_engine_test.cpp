#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "album_engine.h"
#include "engine_test_hooks.h"
#include "temp_folder.h"

namespace albummaker {
namespace {

using testing::TempFolder;

// Every placeholder and both sections, each value framed so that a test can
// see exactly what filled it.
constexpr char kFullTemplate[] =
    "<!--tq_LinkToPreviousStart-->prev=[^tq_UrlEncodedPreviousFileName^]<!--tq_LinkToPreviousEnd-->"
    "base=[^tq_CurrentFileNameWithoutExtension^] name=[^tq_CurrentFileName^] "
    "n=[^tq_FileOrdinalNumber^] of=[^tq_TotalFilesCount^]"
    "<!--tq_LinkToNextStart-->next=[^tq_UrlEncodedNextFileName^]<!--tq_LinkToNextEnd-->";

class AlbumEngineTest : public ::testing::Test {
 protected:
  void TearDown() override { test_hooks::Reset(); }

  // The album folder holds the given pictures; the template sits outside it.
  void MakeAlbum(std::initializer_list<const char16_t*> names, std::string_view templateBytes = kFullTemplate) {
    std::filesystem::create_directories(pictures_);
    for (const char16_t* name : names) album_.Write(std::filesystem::path(u"pictures") / name);
    templatePath_ = album_.Write("page.html", templateBytes);
    engine_.SetFolderPath(pictures_.u16string().c_str());
    engine_.SetPageTemplatePath(templatePath_.u16string().c_str());
  }

  std::string RenderedError(std::int32_t index) {
    try {
      engine_.RenderPageByIndex(index);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "(no error)";
  }

  TempFolder album_;
  std::filesystem::path pictures_ = album_ / "pictures";
  std::filesystem::path templatePath_;
  AlbumEngine engine_;
};

TEST_F(AlbumEngineTest, MiddlePictureFillsEveryName) {
  MakeAlbum({u"d.gif", u"b c.jpg", u"a.jpg"});
  EXPECT_EQ(engine_.RenderPageByIndex(1), u"prev=[a%2Ejpg]base=[b c] name=[b c.jpg] n=[2] of=[3]next=[d%2Egif]");
}

TEST_F(AlbumEngineTest, FirstLastAndOnlyPictureSettleTheSections) {
  MakeAlbum({u"a.jpg", u"b.jpg", u"c.jpg"});
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"base=[a] name=[a.jpg] n=[1] of=[3]next=[b%2Ejpg]");
  EXPECT_EQ(engine_.RenderPageByIndex(2), u"prev=[b%2Ejpg]base=[c] name=[c.jpg] n=[3] of=[3]");

  TempFolder other;
  other.Write("only.gif");
  engine_.SetFolderPath(other.Wide().c_str());
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"base=[only] name=[only.gif] n=[1] of=[1]");
}

TEST_F(AlbumEngineTest, IndexOutsideTheAlbumSelectsTheFirst) {
  MakeAlbum({u"a.jpg", u"b.jpg", u"c.jpg"});
  const std::u16string first = engine_.RenderPageByIndex(0);
  EXPECT_EQ(engine_.RenderPageByIndex(-1), first);
  EXPECT_EQ(engine_.RenderPageByIndex(3), first);
  EXPECT_EQ(engine_.RenderPageByIndex(INT32_MIN), first);
  EXPECT_EQ(engine_.RenderPageByIndex(INT32_MAX), first);
  EXPECT_NE(engine_.RenderPageByIndex(2), first);
}

TEST_F(AlbumEngineTest, NameSelectsWithAsciiCaseIgnored) {
  MakeAlbum({u"a.jpg", u"Beach.JPG", u"caf\u00e9.jpg"});
  const std::u16string first = engine_.RenderPageByIndex(0);
  EXPECT_EQ(engine_.RenderPageByName(u"beach.jpg"), engine_.RenderPageByIndex(1));
  EXPECT_EQ(engine_.RenderPageByName(u"CAF\u00e9.JPG"), engine_.RenderPageByIndex(2));
  EXPECT_EQ(engine_.RenderPageByName(u"caf\u00c9.jpg"), first);
  EXPECT_EQ(engine_.RenderPageByName(u"pictures/Beach.JPG"), first);
  EXPECT_EQ(engine_.RenderPageByName(u""), first);
  EXPECT_EQ(engine_.RenderPageByName(u"missing.jpg"), first);
}

TEST_F(AlbumEngineTest, EmptyOrMissingFolderGivesEmptyPage) {
  MakeAlbum({});
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
  engine_.SetFolderPath((album_ / "nowhere").u16string().c_str());
  engine_.SetPageTemplatePath((album_ / "no-template.html").u16string().c_str());
  EXPECT_EQ(engine_.RenderPageByName(u"a.jpg"), u"");
  engine_.SetFolderPath(u"");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
}

TEST_F(AlbumEngineTest, TemplateThatCannotBeReadGivesEmptyPage) {
  MakeAlbum({u"a.jpg"});
  engine_.SetPageTemplatePath((album_ / "no-template.html").u16string().c_str());
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
  engine_.SetPageTemplatePath(u"");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
  engine_.SetPageTemplatePath(pictures_.u16string().c_str());  // a folder
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
  album_.Write("zero.html", "");
  engine_.SetPageTemplatePath((album_ / "zero.html").u16string().c_str());
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
}

TEST_F(AlbumEngineTest, TemplateEndsAtNulAndKeepsByteOrderMark) {
  MakeAlbum({u"a.jpg"}, std::string_view("head ^tq_CurrentFileName^\0tail ^tq_CurrentFileName^", 51));
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"head a.jpg");
  album_.Write("page.html", "\xEF\xBB\xBF<p>^tq_FileOrdinalNumber^</p>");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"\u00ef\u00bb\u00bf<p>1</p>");
}

TEST_F(AlbumEngineTest, TemplateIsDecodedFromWindows1252AndReadAfresh) {
  MakeAlbum({u"a.jpg"}, "caf\xe9 \x80 ^tq_TotalFilesCount^");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"caf\u00e9 \u20ac 1");
  album_.Write("page.html", "changed ^tq_TotalFilesCount^");
  album_.Write("pictures/b.jpg");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"changed 2");
}

TEST_F(AlbumEngineTest, NamesAreEscapedForTextAndEncodedForLinks) {
  MakeAlbum({u"Salt & Pepper's.gif", u"a.jpg", u"\u00e9t\u00e9.jpg", u"\u0416.jpg"});
  // Sorted: a.jpg, Salt & Pepper's.gif, \u00e9t\u00e9.jpg, \u0416.jpg
  EXPECT_EQ(engine_.RenderPageByIndex(1),
            u"prev=[a%2Ejpg]base=[Salt &amp; Pepper&#0039;s] name=[Salt &amp; Pepper&#0039;s.gif] n=[2] of=[4]"
            u"next=[%E9t%E9%2Ejpg]");
  EXPECT_EQ(engine_.RenderPageByIndex(2),
            u"prev=[Salt+%26+Pepper%27s%2Egif]base=[&#0233;t&#0233;] name=[&#0233;t&#0233;.jpg] n=[3] of=[4]"
            u"next=[%u0416%2Ejpg]");
}

TEST_F(AlbumEngineTest, BaseNameEndsAtTheLastFullStop) {
  MakeAlbum({u"a.b.jpg"}, "^tq_CurrentFileNameWithoutExtension^|^tq_CurrentFileName^");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"a.b|a.b.jpg");
  // A name whose only full stop comes first (a list made by hand: such files
  // are hidden on disk) has an empty base; one without a full stop is whole.
  EXPECT_EQ(engine_.RenderPage(ImageList{u".jpg"}, 0), u"|.jpg");
  EXPECT_EQ(engine_.RenderPage(ImageList{u"noext"}, 0), u"noext|noext");
}

TEST_F(AlbumEngineTest, LinkPlaceholdersOutsideTheirSectionStayOnEdgePages) {
  MakeAlbum({u"a.jpg", u"b.jpg"}, "<^tq_UrlEncodedPreviousFileName^|^tq_UrlEncodedNextFileName^>");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"<^tq_UrlEncodedPreviousFileName^|b%2Ejpg>");
  EXPECT_EQ(engine_.RenderPageByIndex(1), u"<a%2Ejpg|^tq_UrlEncodedNextFileName^>");
}

TEST_F(AlbumEngineTest, FillOrderActsOnMarkersInsideNamesAndSections) {
  // The previous name is set before LinkToNext is settled, so inside that
  // section it is filled; placeholders in a removed section vanish unfilled.
  MakeAlbum({u"a.jpg", u"b.jpg"},
            "<!--tq_LinkToNextStart-->{^tq_UrlEncodedPreviousFileName^ ^tq_CurrentFileName^}"
            "<!--tq_LinkToNextEnd-->[^tq_CurrentFileName^]");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"{^tq_UrlEncodedPreviousFileName^ a.jpg}[a.jpg]");
  EXPECT_EQ(engine_.RenderPageByIndex(1), u"[b.jpg]");

  // A name holding a later step's marker has it filled by that step.
  TempFolder odd;
  odd.Write("x^tq_TotalFilesCount^.jpg");
  odd.Write("y^tq_CurrentFileName^.jpg");
  engine_.SetFolderPath(odd.Wide().c_str());
  album_.Write("page.html", "^tq_CurrentFileNameWithoutExtension^|^tq_CurrentFileName^");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"x2|x2.jpg");
  // The base name's copy of a CurrentFileName marker is filled by step 4.
  EXPECT_EQ(engine_.RenderPageByIndex(1), u"yy^tq_CurrentFileName^.jpg|y^tq_CurrentFileName^.jpg");
}

TEST_F(AlbumEngineTest, UrlEncodedCurrentFileNameLinksThePictureItselfOnEveryPage) {
  // Names every platform can store ("?" cannot be in a Windows file name; the
  // serve tests cover it on Linux).
  MakeAlbum({u"a #1.jpg", u"b;%+&.gif", u"c \U0001F600\u0416.jpeg"},
            "<!--tq_LinkToPreviousStart-->(^tq_UrlEncodedCurrentFileName^)<!--tq_LinkToPreviousEnd-->"
            "src=[^tq_UrlEncodedCurrentFileName^] name=[^tq_CurrentFileName^] again=[^tq_UrlEncodedCurrentFileName^]");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"src=[a+%231%2Ejpg] name=[a #1.jpg] again=[a+%231%2Ejpg]");
  EXPECT_EQ(engine_.RenderPageByIndex(1),
            u"(b%3B%25%2B%26%2Egif)src=[b%3B%25%2B%26%2Egif] name=[b;%+&amp;.gif] again=[b%3B%25%2B%26%2Egif]");
  EXPECT_EQ(engine_.RenderPageByName(u"C \U0001F600\u0416.JPEG"),
            u"(c+%uD83D%uDE00%u0416%2Ejpeg)src=[c+%uD83D%uDE00%u0416%2Ejpeg] name=[c &#128512;&#1046;.jpeg] "
            u"again=[c+%uD83D%uDE00%u0416%2Ejpeg]");
}

TEST_F(AlbumEngineTest, UrlEncodedCurrentFileNameIsFilledBeforeEveryOtherValue) {
  // Names that carry the new marker: a later value brings it in, and it stays
  // as it came, because its step is over by then.
  MakeAlbum({u"a^tq_UrlEncodedCurrentFileName^.jpg", u"b.jpg"},
            "^tq_CurrentFileName^|^tq_UrlEncodedCurrentFileName^|"
            "<!--tq_LinkToNextStart-->^tq_UrlEncodedNextFileName^<!--tq_LinkToNextEnd-->");
  EXPECT_EQ(engine_.RenderPageByIndex(0),
            u"a^tq_UrlEncodedCurrentFileName^.jpg|a%5Etq%5FUrlEncodedCurrentFileName%5E%2Ejpg|b%2Ejpg");
  // Its own value holds no marker of any other step.
  album_.Write("pictures/c^tq_TotalFilesCount^.jpg");
  album_.Write("page.html",
               "^tq_UrlEncodedCurrentFileName^ ^tq_UrlEncodedCurrentFileName ^tq_urlencodedcurrentfilename^");
  EXPECT_EQ(engine_.RenderPageByIndex(2),
            u"c%5Etq%5FTotalFilesCount%5E%2Ejpg ^tq_UrlEncodedCurrentFileName ^tq_urlencodedcurrentfilename^");
}

TEST_F(AlbumEngineTest, PathsAreTakenUpToNulAndReturnedAsCopies) {
  MakeAlbum({u"a.jpg"}, "^tq_CurrentFileName^");
  std::u16string withNul = templatePath_.u16string();
  withNul.push_back(u'\0');
  withNul += u"ignored";
  engine_.SetPageTemplatePath(withNul.c_str());
  EXPECT_EQ(engine_.GetPageTemplatePath(), templatePath_.u16string());
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"a.jpg");
  std::u16string copy = engine_.GetFolderPath();
  copy += u"x";
  EXPECT_EQ(engine_.GetFolderPath(), pictures_.u16string());
  engine_.SetFolderPath(nullptr);
  EXPECT_EQ(engine_.GetFolderPath(), u"");
}

TEST_F(AlbumEngineTest, BufferThatCannotBeAllocatedRaisesNoMemory) {
  MakeAlbum({u"a.jpg"}, std::string(1000, 'x'));
  test_hooks::SetAllocationLimit(1000);  // one byte short of size + 1
  EXPECT_EQ(RenderedError(0), "No memory available to serve the request. Error number: 2147942414 (0x8007000E)");
  // The file was closed before the error: it can be replaced and removed.
  EXPECT_TRUE(std::filesystem::remove(templatePath_));
  test_hooks::Reset();
  album_.Write("page.html", "ok");
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"ok");
}

TEST_F(AlbumEngineTest, FailedDecodingAllocationRaisesNoMemory) {
  MakeAlbum({u"a.jpg"}, std::string(1000, 'x'));
  test_hooks::SetAllocationLimit(1500);  // the bytes fit, their UTF-16 form does not
  EXPECT_EQ(RenderedError(0), "No memory available to serve the request. Error number: 2147942414 (0x8007000E)");
}

TEST_F(AlbumEngineTest, FailedReadRaisesWithItsErrorNumber) {
  MakeAlbum({u"a.jpg"});
  test_hooks::SetReadFailure(30);
  EXPECT_EQ(RenderedError(0), "Error while reading from file. Error number: 30 (0x1E)");
  test_hooks::SetReadFailure(0x8007001Eu);
  EXPECT_EQ(RenderedError(0), "Error while reading from file. Error number: 2147942430 (0x8007001E)");
  EXPECT_TRUE(std::filesystem::remove(templatePath_));
  // An empty album never opens the template, so no read can fail.
  engine_.SetFolderPath(u"");
  EXPECT_EQ(RenderedError(0), "(no error)");
}

TEST_F(AlbumEngineTest, ConcurrentRendersOfOneEngineAgree) {
  MakeAlbum({u"a.jpg", u"b.jpg", u"c.jpg", u"d.jpg"});
  std::vector<std::u16string> expected;
  for (int i = 0; i < 4; ++i) expected.push_back(engine_.RenderPageByIndex(i));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 25; ++round) {
        if (engine_.RenderPageByIndex(t) != expected[t]) ++mismatches[t];
        if (engine_.RenderPageByName(t % 2 ? u"B.JPG" : u"c.jpg") != expected[t % 2 ? 1 : 2]) ++mismatches[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace albummaker
