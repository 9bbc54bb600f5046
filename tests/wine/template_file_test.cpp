// The template file on the real platform: the sharing rule, files that cannot
// be opened, sizes beyond 32 bits and the error number of a failed read.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "album_engine.h"
#include "platform_seam.h"
#include "win_temp.h"

namespace albummaker {
namespace {

using wintest::AsU16;
using wintest::ScopedHandle;
using wintest::WinTempFolder;

class WindowsTemplateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Created());
    ASSERT_TRUE(dir_.Write(L"a.jpg"));
    ASSERT_TRUE(dir_.Write(L"b.jpg"));
    ASSERT_TRUE(dir_.Write(L"page.html", "Pic ^tq_CurrentFileName^ of ^tq_TotalFilesCount^"));
    engine_.SetFolderPath(dir_.U16().c_str());
    engine_.SetPageTemplatePath(Template().c_str());
  }
  std::u16string Template() const { return AsU16(dir_ / L"page.html"); }

  WinTempFolder dir_;
  AlbumEngine engine_;
};

TEST_F(WindowsTemplateFile, RendersTheTemplate) { EXPECT_EQ(engine_.RenderPageByIndex(1), u"Pic b.jpg of 2"); }

TEST_F(WindowsTemplateFile, HeldOpenForWritingElsewhereGivesTheEmptyPage) {
  {
    ScopedHandle writer(CreateFileW((dir_ / L"page.html").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.valid()) << GetLastError();
    EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
    EXPECT_EQ(engine_.RenderPageByName(u"b.jpg"), u"");
  }
  EXPECT_EQ(engine_.RenderPageByIndex(0), u"Pic a.jpg of 2");
}

TEST_F(WindowsTemplateFile, OpenShareReadsOnly) {
  const std::wstring path = dir_ / L"page.html";
  seam::ReadOnlyFile file;
  ASSERT_TRUE(file.Open(Template()));
  {
    ScopedHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader.valid()) << "another reader must be let in";
  }
  {
    ScopedHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.valid()) << "a writer must be kept out";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_FALSE(DeleteFileW(path.c_str())) << "deletion must be kept out";
  file.Close();
  ScopedHandle writer(
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(writer.valid()) << "closed files must not keep writers out";
}

TEST_F(WindowsTemplateFile, PathsThatCannotBeOpenedGiveTheEmptyPage) {
  ASSERT_TRUE(dir_.MakeFolder(L"folder.html"));
  for (const std::u16string& path : {AsU16(dir_ / L"absent.html"), AsU16(dir_ / L"folder.html"), std::u16string()}) {
    seam::ReadOnlyFile file;
    EXPECT_FALSE(file.Open(path));
    EXPECT_FALSE(file.IsOpen());
    engine_.SetPageTemplatePath(path.c_str());
    EXPECT_EQ(engine_.RenderPageByIndex(0), u"");
  }
}

TEST_F(WindowsTemplateFile, SizeAndSingleRead) {
  seam::ReadOnlyFile file;
  ASSERT_TRUE(file.Open(Template()));
  std::uint64_t size = 0;
  ASSERT_TRUE(file.Size(size));
  const std::string expected = "Pic ^tq_CurrentFileName^ of ^tq_TotalFilesCount^";
  EXPECT_EQ(size, expected.size());
  std::string buffer(expected.size() + 8, '\0');
  std::uint32_t got = 0, error = 1;
  ASSERT_TRUE(file.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), got, error));
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(buffer.substr(0, got), expected);
  // Opening again releases the first handle rather than leaking it.
  ASSERT_TRUE(file.Open(Template()));
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(DeleteFileW((dir_ / L"page.html").c_str())) << "no handle may stay open";
}

TEST_F(WindowsTemplateFile, FailedReadReportsTheWin32ErrorNumber) {
  seam::ReadOnlyFile file;
  ASSERT_TRUE(file.Open(Template()));
  std::uint32_t got = 7, error = 0;
  // Reading into an unwritable address is a read that the platform refuses.
  EXPECT_FALSE(file.Read(reinterpret_cast<void*>(static_cast<std::uintptr_t>(16)), 8, got, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_NOACCESS));
  EXPECT_EQ(got, 0u);
}

TEST_F(WindowsTemplateFile, SizeOf4GiBOrMoreKeepsItsHighPartAndIsRefused) {
  const std::wstring path = dir_ / L"huge.html";
  {
    // Sparse: only the size is set, nothing is written.
    ScopedHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(h.valid());
    LARGE_INTEGER end;
    end.QuadPart = 0x100000003LL;
    ASSERT_TRUE(SetFilePointerEx(h.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h.get())) << GetLastError();
  }
  seam::ReadOnlyFile file;
  ASSERT_TRUE(file.Open(AsU16(path)));
  std::uint64_t size = 0;
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 0x100000003ull);
  file.Close();

  engine_.SetPageTemplatePath(AsU16(path).c_str());
  try {
    (void)engine_.RenderPageByIndex(0);
    ADD_FAILURE() << "a template of 4 GiB or more must be refused";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "No memory available to serve the request. Error number: 2147942414 (0x8007000E)");
  }
  EXPECT_TRUE(DeleteFileW(path.c_str())) << "the refused file must have been closed";
}

}  // namespace
}  // namespace albummaker
