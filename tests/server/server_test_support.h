// Shared helpers of the component tests: album folders on disk, variants and
// strings, a check that every test leaves the module lock count as it found
// it, and an outer object for aggregation.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "album_maker.h"
#include "class_factory.h"
#include "com_util.h"
#include "module_state.h"
#include "temp_folder.h"

namespace albummaker::server::testing {

using albummaker::testing::TempFolder;

void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// The picture files (empty) and a template that shows the current picture,
// its ordinal number and the count: "[<name> <n>/<count>]".
struct Album {
  TempFolder dir;
  std::filesystem::path pictures;
  std::filesystem::path templateFile;
  explicit Album(std::initializer_list<const char*> names);
  std::u16string Folder() const { return pictures.u16string(); }
  std::u16string Template() const { return templateFile.u16string(); }
};
std::u16string ExpectedPage(const std::u16string& name, int ordinal, int count);

// Variants of one type each; they clear themselves.
UniqueVariant NullVariant();
UniqueVariant TextVariant(const std::u16string& text);
UniqueVariant IntVariant(LONG value);
UniqueVariant RealVariant(double value);

BSTR MakeBstr(const std::u16string& text);
std::u16string FromBstr(BSTR s);  // null reads as empty

// Folder and template through the property gets of an object.
std::u16string GetFolder(IAlbumMaker* maker);
std::u16string GetTemplate(IAlbumMaker* maker);
// getAlbumPage with null variants for both paths; fails the test on error.
std::u16string Page(IAlbumMaker* maker, UniqueVariant selector);

// Creates a plain AlbumMaker through the class object.
HRESULT CreateMaker(IAlbumMaker** out);

// A test fixture that fails when a test leaves the module lock count or the
// cached class object's count changed.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  LONG lockCountAtStart_ = 0;
};

// An outer object of an aggregate: answers IUnknown and kOuterOnlyIid
// itself, passes other requests to the inner unknown when delegate is set,
// and counts what reaches it.
extern const GUID kOuterOnlyIid;
class TestOuter : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }

  LONG refs = 1;
  LONG queries = 0;
  bool delegate = true;
  IUnknown* inner = nullptr;
};

// Writes or removes the class's ProgID where ProgIDFromCLSID finds it.
void RegisterProgId(const char* progId);
void RemoveProgId();

// The engine's failure for a template of 4 GiB: a sparse file of that size.
std::filesystem::path MakeHugeTemplate(const std::filesystem::path& folder);
extern const char16_t kHugeTemplateMessage[];

}  // namespace albummaker::server::testing
