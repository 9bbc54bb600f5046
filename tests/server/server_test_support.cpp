#include "server_test_support.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <fstream>
#include <string>

namespace albummaker::server::testing {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

Album::Album(std::initializer_list<const char*> names) {
  pictures = dir.Path() / "pictures";
  fs::create_directories(pictures);
  for (const char* name : names) WriteFile(pictures / name, "");
  templateFile = dir.Path() / "page.html";
  WriteFile(templateFile, "[^tq_CurrentFileName^ ^tq_FileOrdinalNumber^/^tq_TotalFilesCount^]");
}

std::u16string ExpectedPage(const std::u16string& name, int ordinal, int count) {
  std::u16string page(1, u'[');
  page.append(name);
  page.push_back(u' ');
  for (const char c : std::to_string(ordinal)) page.push_back(static_cast<char16_t>(c));
  page.push_back(u'/');
  for (const char c : std::to_string(count)) page.push_back(static_cast<char16_t>(c));
  page.push_back(u']');
  return page;
}

UniqueVariant NullVariant() {
  UniqueVariant v;
  V_VT(v.get()) = VT_NULL;
  return v;
}

UniqueVariant TextVariant(const std::u16string& text) {
  UniqueVariant v;
  V_VT(v.get()) = VT_BSTR;
  V_BSTR(v.get()) = MakeBstr(text);
  return v;
}

UniqueVariant IntVariant(LONG value) {
  UniqueVariant v;
  V_VT(v.get()) = VT_I4;
  V_I4(v.get()) = value;
  return v;
}

UniqueVariant RealVariant(double value) {
  UniqueVariant v;
  V_VT(v.get()) = VT_R8;
  V_R8(v.get()) = value;
  return v;
}

BSTR MakeBstr(const std::u16string& text) {
  return SysAllocStringLen(AsOle(text.c_str()), static_cast<UINT>(text.size()));
}

std::u16string FromBstr(BSTR s) {
  if (s == nullptr) return {};
  return std::u16string(AsU16(s), SysStringLen(s));
}

std::u16string GetFolder(IAlbumMaker* maker) {
  UniqueBstr value;
  EXPECT_EQ(maker->get_FolderPath(value.put()), S_OK);
  EXPECT_NE(value.get(), nullptr);
  return FromBstr(value.get());
}

std::u16string GetTemplate(IAlbumMaker* maker) {
  UniqueBstr value;
  EXPECT_EQ(maker->get_PageTemplatePath(value.put()), S_OK);
  EXPECT_NE(value.get(), nullptr);
  return FromBstr(value.get());
}

std::u16string Page(IAlbumMaker* maker, UniqueVariant selector) {
  UniqueVariant folder = NullVariant();
  UniqueVariant templ = NullVariant();
  UniqueBstr page;
  const HRESULT hr = maker->getAlbumPage(*selector, *folder, *templ, page.put());
  EXPECT_EQ(hr, S_OK);
  EXPECT_NE(page.get(), nullptr);
  return FromBstr(page.get());
}

HRESULT CreateMaker(IAlbumMaker** out) {
  ComPtr<IClassFactory> factory;
  HRESULT hr = DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, kIidAlbumMaker, reinterpret_cast<void**>(out));
}

void ServerTest::SetUp() { lockCountAtStart_ = LockCount(Module()); }

void ServerTest::TearDown() {
  EXPECT_EQ(LockCount(Module()), lockCountAtStart_) << "a test left a module lock behind";
  SetErrorInfo(0, nullptr);
}

// {5C0E4B1A-9D2F-4E37-8A61-2B7C9F04D113}
const GUID kOuterOnlyIid = {0x5C0E4B1A, 0x9D2F, 0x4E37, {0x8A, 0x61, 0x2B, 0x7C, 0x9F, 0x04, 0xD1, 0x13}};

HRESULT STDMETHODCALLTYPE TestOuter::QueryInterface(REFIID iid, void** out) {
  InterlockedIncrement(&queries);
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (SameGuid(iid, IID_IUnknown) || SameGuid(iid, kOuterOnlyIid)) {
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  if (delegate && inner != nullptr) return inner->QueryInterface(iid, out);
  return E_NOINTERFACE;
}

namespace {
const char kProgIdKey[] = "CLSID\\{111D7E37-5526-458D-849C-0BA0765813EB}\\ProgID";
const char kClassKey[] = "CLSID\\{111D7E37-5526-458D-849C-0BA0765813EB}";
}  // namespace

void RegisterProgId(const char* progId) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kProgIdKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const LSTATUS status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId),
                                        static_cast<DWORD>(std::strlen(progId) + 1));
  RegCloseKey(key);
  ASSERT_EQ(status, ERROR_SUCCESS);
}

void RemoveProgId() {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kProgIdKey);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, kClassKey);
}

const char16_t kHugeTemplateMessage[] =
    u"No memory available to serve the request. Error number: 2147942414 (0x8007000E)";

fs::path MakeHugeTemplate(const fs::path& folder) {
  const fs::path path = folder / "huge.html";
  { std::ofstream create(path, std::ios::binary); }
  // Sparse: takes no room on disk.
  fs::resize_file(path, 0x100000000ull);
  return path;
}

namespace {

// Starts the module once for the whole test program, as process attach
// would, with a registry store of its own on Linux.
class ModuleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
#ifndef _WIN32
    registry_ = std::make_unique<TempFolder>();
    const std::string file = (registry_->Path() / "registry.reg").string();
    setenv("ALBUMMAKER_REGISTRY", file.c_str(), 1);
#endif
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ModuleInit(AlbumObjectMap(), nullptr);
  }
  void TearDown() override {
    ModuleTerm();
    CoUninitialize();
    registry_.reset();
  }

 private:
  std::unique_ptr<TempFolder> registry_;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

}  // namespace

}  // namespace albummaker::server::testing
