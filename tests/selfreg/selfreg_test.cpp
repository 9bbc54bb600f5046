// Registration of the Linux module through the host, read back from the
// registry store, activation by ProgID, late-bound calls, and unregistration.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "owners.h"
#include "read_file.h"
#include "temp_folder.h"

namespace albummaker {
namespace {

namespace fs = std::filesystem;
using testing::ChildResult;
using testing::ReadFile;
using testing::RunChild;
using testing::TempFolder;

constexpr char kClassKey[] = "CLSID\\{111D7E37-5526-458D-849C-0BA0765813EB}";
constexpr char kClassGuid[] = "{111D7E37-5526-458D-849C-0BA0765813EB}";
constexpr char kLibGuid[] = "{B4AF5139-BD8D-402B-939D-65FC70002BA6}";

ChildResult Host(std::vector<std::string> args) {
  args.insert(args.begin(), AM_HOST_BINARY);
  ChildResult r = RunChild(args);
  EXPECT_FALSE(r.timedOut);
  return r;
}

struct Value {
  DWORD type = 0;
  std::string data;
  bool operator==(const Value&) const = default;
};

class Key {
 public:
  explicit Key(const std::string& path, HKEY root = HKEY_CLASSES_ROOT) {
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool Exists() const { return key_ != nullptr; }

  std::vector<std::string> SubKeys() const {
    std::vector<std::string> names;
    for (DWORD i = 0; key_ != nullptr; ++i) {
      char name[256];
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key_, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, size);
    }
    return names;
  }
  // Name to value; the default value under "".
  std::map<std::string, Value> Values() const {
    std::map<std::string, Value> values;
    for (DWORD i = 0; key_ != nullptr; ++i) {
      char name[260];
      DWORD nameSize = sizeof name;
      BYTE data[1024];
      DWORD dataSize = sizeof data;
      DWORD type = 0;
      if (RegEnumValueA(key_, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
      std::string text(reinterpret_cast<const char*>(data), dataSize);
      if (type == REG_SZ && !text.empty() && text.back() == '\0') text.pop_back();
      values[std::string(name, nameSize)] = Value{type, text};
    }
    return values;
  }

 private:
  HKEY key_ = nullptr;
};

std::map<std::string, Value> Default(const std::string& text) { return {{"", Value{REG_SZ, text}}}; }

// Each test has a registry store and folders of its own.
class SelfRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = dir_ / "registry" / "registry.reg";
    fs::create_directories(store_.parent_path());
    ASSERT_EQ(setenv("ALBUMMAKER_REGISTRY", store_.c_str(), 1), 0);
    fs::create_directories(dir_ / "album");
    dir_.Write("album/a.jpg");
    dir_.Write("album/b.jpg");
    dir_.Write("album/c.gif");
    templ_ = dir_.Write("page.html", "^tq_FileOrdinalNumber^:^tq_CurrentFileName^");
  }
  void TearDown() override { unsetenv("ALBUMMAKER_REGISTRY"); }

  // A copy of the built module at `relative` under the test's folder.
  fs::path CopyModule(const fs::path& relative) {
    const fs::path target = dir_ / relative;
    fs::create_directories(target.parent_path());
    fs::copy_file(AM_TEST_MODULE, target, fs::copy_options::overwrite_existing);
    return target;
  }
  ChildResult Register(const fs::path& module) { return Host({"register", module.string()}); }
  ChildResult Unregister(const fs::path& module) { return Host({"unregister", module.string()}); }
  ChildResult RenderByProgId(const std::string& index) {
    return Host(
        {"render", "--progid", "--folder", (dir_ / "album").string(), "--template", templ_.string(), "--index", index});
  }
  std::string InprocServer() const { return Key(std::string(kClassKey) + "\\InprocServer32").Values()[""].data; }

  TempFolder dir_;
  fs::path store_;
  fs::path templ_;
};

TEST_F(SelfRegistration, WritesExactlyTheClassEntries) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  const ChildResult r = Register(module);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "DllRegisterServer in " + module.string() + " succeeded.\n");

  EXPECT_EQ(Key("Quorrel.AlbumMaker.1").Values(), Default("AlbumMaker Class"));
  EXPECT_EQ(Key("Quorrel.AlbumMaker.1").SubKeys(), std::vector<std::string>{"CLSID"});
  EXPECT_EQ(Key("Quorrel.AlbumMaker.1\\CLSID").Values(), Default(kClassGuid));
  EXPECT_EQ(Key("Quorrel.AlbumMaker").Values(), Default("AlbumMaker Class"));
  EXPECT_EQ(Key("Quorrel.AlbumMaker").SubKeys(), (std::vector<std::string>{"CLSID", "CurVer"}));
  EXPECT_EQ(Key("Quorrel.AlbumMaker\\CLSID").Values(), Default(kClassGuid));
  EXPECT_EQ(Key("Quorrel.AlbumMaker\\CurVer").Values(), Default("Quorrel.AlbumMaker.1"));

  const std::string c = kClassKey;
  EXPECT_EQ(Key(c).Values(), Default("AlbumMaker Class"));
  EXPECT_EQ(Key(c).SubKeys(), (std::vector<std::string>{"InprocServer32", "ProgID", "Programmable", "TypeLib",
                                                        "VersionIndependentProgID"}));
  EXPECT_EQ(Key(c + "\\ProgID").Values(), Default("Quorrel.AlbumMaker.1"));
  EXPECT_EQ(Key(c + "\\VersionIndependentProgID").Values(), Default("Quorrel.AlbumMaker"));
  EXPECT_TRUE(Key(c + "\\Programmable").Exists());
  EXPECT_TRUE(Key(c + "\\Programmable").Values().empty());
  EXPECT_TRUE(Key(c + "\\Programmable").SubKeys().empty());
  std::map<std::string, Value> server = Default(module.string());
  server["ThreadingModel"] = Value{REG_SZ, "Free"};
  EXPECT_EQ(Key(c + "\\InprocServer32").Values(), server);
  EXPECT_EQ(Key(c + "\\TypeLib").Values(), Default(kLibGuid));
  // The type library is registered from the module itself.
  EXPECT_TRUE(Key(std::string("TypeLib\\") + kLibGuid + "\\1.0").Exists());
}

TEST_F(SelfRegistration, RegisteringTwiceLeavesTheSameStore) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  ASSERT_EQ(Register(module).exitCode, 0);
  const std::string once = ReadFile(store_);
  // A stray entry under the class key goes: the class key is rebuilt.
  am::UniqueHkey stray;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\Stray").c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, stray.put(), nullptr),
            ERROR_SUCCESS);
  stray.reset();  // closed before the host runs again
  ASSERT_EQ(Register(module).exitCode, 0);
  EXPECT_EQ(ReadFile(store_), once);
}

TEST_F(SelfRegistration, CreatedByProgIdAndRenderedLateBound) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  ASSERT_EQ(Register(module).exitCode, 0);
  const ChildResult r = RenderByProgId("1");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "2:b.jpg");
  EXPECT_EQ(RenderByProgId("2").out, "3:c.gif");
}

TEST_F(SelfRegistration, UnregisterLeavesOnlyClsid) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  ASSERT_EQ(Register(module).exitCode, 0);
  const ChildResult r = Unregister(module);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "DllUnregisterServer in " + module.string() + " succeeded.\n");
  EXPECT_FALSE(Key("Quorrel.AlbumMaker.1").Exists());
  EXPECT_FALSE(Key("Quorrel.AlbumMaker").Exists());
  EXPECT_FALSE(Key(kClassKey).Exists());
  EXPECT_FALSE(Key(std::string("TypeLib\\") + kLibGuid).Exists());
  EXPECT_FALSE(Key("Interface\\{973DFEE1-C490-43D1-B0B5-D484DA2D00A9}").Exists());
  EXPECT_TRUE(Key("CLSID").Exists());
  // Nothing under the roots but the system's own containers, all empty.
  for (const std::string& root : Key("").SubKeys()) {
    EXPECT_TRUE(root == "CLSID" || root == "TypeLib" || root == "Interface") << root;
    EXPECT_TRUE(Key(root).SubKeys().empty()) << root;
  }
  // The object can no longer be created by its ProgID.
  const ChildResult render = RenderByProgId("0");
  EXPECT_EQ(render.exitCode, 1);
  EXPECT_NE(render.err.find("0x800401F3"), std::string::npos) << render.err;

  // Unregistering again changes nothing and still succeeds.
  const std::string before = ReadFile(store_);
  EXPECT_EQ(Unregister(module).exitCode, 0);
  EXPECT_EQ(ReadFile(store_), before);
}

TEST_F(SelfRegistration, ForeignSubKeyKeepsTheClassKey) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  ASSERT_EQ(Register(module).exitCode, 0);
  am::UniqueHkey foreign;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\Foreign").c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, foreign.put(), nullptr),
            ERROR_SUCCESS);
  foreign.reset();  // closed before the host runs again
  ASSERT_EQ(Unregister(module).exitCode, 0);
  EXPECT_EQ(Key(kClassKey).SubKeys(), std::vector<std::string>{"Foreign"});
  EXPECT_FALSE(Key("Quorrel.AlbumMaker").Exists());
}

TEST_F(SelfRegistration, PathWithQuoteIsWrittenUnchanged) {
  const fs::path module = CopyModule("it's a 'module'/libalbummaker.so");
  const ChildResult r = Register(module);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(InprocServer(), module.string());
  EXPECT_EQ(RenderByProgId("0").out, "1:a.jpg");
}

TEST_F(SelfRegistration, MovedModuleRegisteredAgainPointsAtTheNewPath) {
  const fs::path first = CopyModule("one/libalbummaker.so");
  ASSERT_EQ(Register(first).exitCode, 0);
  const fs::path second = dir_ / "two" / "renamed.so";
  fs::create_directories(second.parent_path());
  fs::rename(first, second);
  ASSERT_EQ(Register(second).exitCode, 0);
  EXPECT_EQ(InprocServer(), second.string());
  const std::string libKey = std::string("TypeLib\\") + kLibGuid + "\\1.0\\0\\win32";
  EXPECT_EQ(Key(libKey).Values()[""].data, second.string());
  EXPECT_EQ(RenderByProgId("1").out, "2:b.jpg");
}

TEST_F(SelfRegistration, PathTooLongForTheBufferFailsAndWritesNothing) {
  std::string deep;
  while ((dir_.Path() / deep).string().size() < 300) deep += "a-long-folder-name/";
  const fs::path module = CopyModule(deep + "libalbummaker.so");
  ASSERT_GE(module.string().size(), 260u);
  const ChildResult r = Register(module);
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_NE(r.err.find("failed: 0x800700CE"), std::string::npos) << r.err;
  EXPECT_FALSE(Key("Quorrel.AlbumMaker").Exists());
  EXPECT_FALSE(Key(kClassKey).Exists());
  EXPECT_FALSE(Key(std::string("TypeLib\\") + kLibGuid).Exists());

  // A path of 259 bytes still fits.
  const std::size_t room = 259 - (dir_.Path() / "f/libalbummaker.so").string().size();
  const fs::path fits = CopyModule("f" + std::string(room, 'x') + "/libalbummaker.so");
  ASSERT_EQ(fits.string().size(), 259u);
  EXPECT_EQ(Register(fits).exitCode, 0);
  EXPECT_EQ(InprocServer(), fits.string());
}

TEST_F(SelfRegistration, NonAsciiPathRoundTripsThroughTheAnsiCodePage) {
  // Linux names are bytes; each byte has a Windows-1252 character, so the
  // registered path names the module again when activation reads it back.
  const fs::path module = CopyModule("\xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc/libalbummaker.so");
  const ChildResult reg = Register(module);
  ASSERT_EQ(reg.exitCode, 0) << reg.err;
  const ChildResult r = RenderByProgId("2");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "3:c.gif");
}

TEST_F(SelfRegistration, HostReportsLoadAndEntryPointFailures) {
  const ChildResult missing = Register(dir_ / "absent.so");
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.err.find("0x8007007E (The specified module could not be found.)"), std::string::npos)
      << missing.err;
  // A shared object without the entry point.
  const ChildResult noEntry = Register(AM_NO_ENTRY_MODULE);
  EXPECT_EQ(noEntry.exitCode, 4);
  EXPECT_NE(noEntry.err.find("no entry point DllRegisterServer"), std::string::npos) << noEntry.err;
  EXPECT_EQ(Host({"register"}).exitCode, 2);
  EXPECT_FALSE(fs::exists(store_) && Key("Quorrel.AlbumMaker").Exists());
}

// A C++ client of the registered class: ProgID, activation and IDispatch.
class DispatchClient {
 public:
  DispatchClient() {
    CLSID clsid{};
    result_ = CLSIDFromProgID(u"Quorrel.AlbumMaker", &clsid);
    if (SUCCEEDED(result_))
      result_ = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch_.put_void());
  }
  DispatchClient(const DispatchClient&) = delete;
  DispatchClient& operator=(const DispatchClient&) = delete;
  HRESULT Result() const { return result_; }

  DISPID Id(const char16_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, &n, 1, 0, &id), S_OK);
    return id;
  }
  void PutText(const char16_t* name, const std::u16string& text) {
    am::UniqueVariant owned;
    VARIANT& v = *owned;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&v, &named, 1, 1};
    EXPECT_EQ(dispatch_->Invoke(Id(name), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
  }
  // getAlbumPage(index) with both paths left as they are.
  std::u16string Page(int index) {
    VARIANT args[3];
    // Null paths keep the object's paths (Empty would convert to "").
    for (VARIANT& a : args) {
      VariantInit(&a);
      V_VT(&a) = VT_NULL;
    }
    V_VT(&args[2]) = VT_I4;
    V_I4(&args[2]) = index;
    DISPPARAMS params{args, nullptr, 3, 0};
    am::UniqueVariant owned;
    VARIANT& result = *owned;
    const HRESULT hr =
        dispatch_->Invoke(Id(u"GETALBUMPAGE"), IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    std::u16string page;
    if (hr == S_OK && V_VT(&result) == VT_BSTR) page.assign(V_BSTR(&result), SysStringLen(V_BSTR(&result)));
    return page;
  }

 private:
  HRESULT result_ = E_FAIL;
  am::ComPtr<IDispatch> dispatch_;
};

TEST_F(SelfRegistration, ManyThreadsCreateAndCallByProgId) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  ASSERT_EQ(Register(module).exitCode, 0);
  const std::u16string folder = (dir_ / "album").u16string();
  const std::u16string templ = templ_.u16string();
  constexpr int kThreads = 4;
  std::vector<std::u16string> pages[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      {
        DispatchClient client;
        if (client.Result() == S_OK) {
          client.PutText(u"folderpath", folder);
          client.PutText(u"PageTemplatePath", templ);
          for (int i = 0; i < 6; ++i) pages[t].push_back(client.Page(i % 3));
        }
      }
      CoUninitialize();
    });
  }
  for (std::thread& t : threads) t.join();
  const std::vector<std::u16string> expected = {u"1:a.jpg", u"2:b.jpg", u"3:c.gif", u"1:a.jpg", u"2:b.jpg", u"3:c.gif"};
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(pages[t], expected) << "thread " << t;
}

// Every key below path (relative to root) with its values, by path.
using Tree = std::map<std::string, std::map<std::string, Value>>;
void Collect(HKEY root, const std::string& path, const std::string& shown, Tree& tree) {
  const Key key(path, root);
  tree[shown] = key.Values();
  for (const std::string& name : key.SubKeys())
    Collect(root, path.empty() ? name : path + "\\" + name, shown.empty() ? name : shown + "\\" + name, tree);
}
Tree ClassesRoot() {
  Tree tree;
  Collect(HKEY_CLASSES_ROOT, "", "", tree);
  return tree;
}
Tree UserClasses() {
  Tree tree;
  if (Key("Software\\Classes", HKEY_CURRENT_USER).Exists()) Collect(HKEY_CURRENT_USER, "Software\\Classes", "", tree);
  return tree;
}

// The module loaded into this process, its DllInstall called directly, as
// regsvr32 /n /i:user does.
class InstalledModule {
 public:
  explicit InstalledModule(const fs::path& path) : module_(LoadLibraryA(path.c_str())) {}
  ~InstalledModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  InstalledModule(const InstalledModule&) = delete;
  InstalledModule& operator=(const InstalledModule&) = delete;
  HRESULT Install(BOOL install, LPCWSTR commandLine) {
    using Fn = HRESULT (*)(BOOL, LPCWSTR);
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllInstall")));
    return fn == nullptr ? E_NOTIMPL : fn(install, commandLine);
  }

 private:
  HMODULE module_;
};

// After DllInstall returns, HKEY_CLASSES_ROOT is the real one again.
void ExpectClassesRootNotRedirected(const std::string& when) {
  am::UniqueHkey probe;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CLASSES_ROOT, "RedirectProbe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, probe.put(), nullptr),
      ERROR_SUCCESS);
  probe.reset();  // closed before the key is deleted
  EXPECT_FALSE(Key("Software\\Classes\\RedirectProbe", HKEY_CURRENT_USER).Exists()) << when;
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "RedirectProbe"), ERROR_SUCCESS) << when;
}

TEST_F(SelfRegistration, PerUserInstallWritesTheMachineEntriesUnderTheUsersClasses) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  // What a machine registration writes is what the user's must hold.
  ASSERT_EQ(Register(module).exitCode, 0);
  const Tree machine = ClassesRoot();
  ASSERT_EQ(Unregister(module).exitCode, 0);
  const Tree emptied = ClassesRoot();
  ASSERT_NE(machine, emptied);

  InstalledModule loaded(module);
  EXPECT_EQ(loaded.Install(TRUE, u"user"), S_OK);
  EXPECT_EQ(UserClasses(), machine);
  EXPECT_EQ(ClassesRoot(), emptied);
  ExpectClassesRootNotRedirected("after installing");
  // Letter case does not matter; installing again changes nothing.
  EXPECT_EQ(loaded.Install(TRUE, u"USER"), S_OK);
  EXPECT_EQ(UserClasses(), machine);

  EXPECT_EQ(loaded.Install(FALSE, u"user"), S_OK);
  // Nothing stays: not even the containers, emptied.
  EXPECT_EQ(UserClasses(), (Tree{{"", {}}}));
  EXPECT_EQ(ClassesRoot(), emptied);
  ExpectClassesRootNotRedirected("after uninstalling");
}

TEST_F(SelfRegistration, InstallCommandLines) {
  const fs::path module = CopyModule("bin/libalbummaker.so");
  ASSERT_EQ(Register(module).exitCode, 0);
  const Tree machine = ClassesRoot();
  ASSERT_EQ(Unregister(module).exitCode, 0);
  const Tree emptied = ClassesRoot();

  InstalledModule loaded(module);
  // Unknown words are refused, and nothing is written.
  for (const char16_t* bad : {u"users", u"use", u"machine", u" user"}) {
    EXPECT_EQ(loaded.Install(TRUE, bad), E_INVALIDARG);
    EXPECT_EQ(loaded.Install(FALSE, bad), E_INVALIDARG);
  }
  EXPECT_EQ(ClassesRoot(), emptied);
  EXPECT_EQ(UserClasses(), Tree{});
  // No command line, or an empty one: the machine registration, unchanged.
  EXPECT_EQ(loaded.Install(TRUE, nullptr), S_OK);
  EXPECT_EQ(ClassesRoot(), machine);
  EXPECT_EQ(loaded.Install(FALSE, u""), S_OK);
  EXPECT_EQ(ClassesRoot(), emptied);
  EXPECT_EQ(loaded.Install(TRUE, u""), S_OK);
  EXPECT_EQ(ClassesRoot(), machine);
  EXPECT_EQ(UserClasses(), Tree{});
}

TEST_F(SelfRegistration, FailedPerUserInstallLeavesClassesRootAsItWas) {
  // A module path that does not fit the path buffer: registration fails
  // part-way, after the redirection was made.
  fs::path relative = "deep";
  while (relative.string().size() < 280) relative /= "a-folder-with-a-long-name";
  const fs::path module = CopyModule(relative / "libalbummaker.so");
  InstalledModule loaded(module);
  EXPECT_EQ(loaded.Install(TRUE, u"user"), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  ExpectClassesRootNotRedirected("after a failed install");
  EXPECT_FALSE(Key("Quorrel.AlbumMaker").Exists());
  EXPECT_FALSE(Key("Software\\Classes\\Quorrel.AlbumMaker", HKEY_CURRENT_USER).Exists());
}

}  // namespace
}  // namespace albummaker
