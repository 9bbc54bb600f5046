// The Linux registry store's file: what it writes, what it reads, how it
// follows changes made by others, and how it treats a file it cannot read.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "registry_test_env.h"
#include "store_file_test.h"

namespace {

using regtest::ReadFile;
using regtest::WriteFile;

class RegistryStore : public regtest::StoreFileTest {
 protected:
  static HKEY Create(HKEY parent, const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    return key;
  }

  static std::string Query(HKEY root, const char* path, const char* name, DWORD* type = nullptr) {
    HKEY key = nullptr;
    LSTATUS st = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (st != ERROR_SUCCESS) return "<open " + std::to_string(st) + ">";
    char buf[1024];
    DWORD size = sizeof buf, t = 0;
    st = RegQueryValueExA(key, name, nullptr, &t, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (st != ERROR_SUCCESS) return "<query " + std::to_string(st) + ">";
    if (type) *type = t;
    return std::string(buf, size);
  }

  // Switches to a second store file holding text, so it is surely read anew.
  void UseCopy(const std::string& text) {
    const std::string copy = dir_ + "/copy.reg";
    WriteFile(copy, text);
    setenv("ALBUMMAKER_REGISTRY", copy.c_str(), 1);
  }
};

TEST_F(RegistryStore, WritesARegeditFileWithEveryKindOfValue) {
  HKEY key = Create(HKEY_CLASSES_ROOT, "Sample.Thing\\CLSID");
  const char text[] = "C:\\path with \"quotes\"";
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
  DWORD n = 42;
  ASSERT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4), ERROR_SUCCESS);
  const BYTE bytes[] = {1, 2, 0xff};
  ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, bytes, 3), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%A%"), 4), ERROR_SUCCESS);
  // Text without its terminating zero cannot be written as "text".
  ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab"), 2), ERROR_SUCCESS);
  RegCloseKey(Create(HKEY_CURRENT_USER, "Empty\\Key"));
  RegCloseKey(key);

  EXPECT_EQ(ReadFile(file_),
            "REGEDIT4\n"
            "\n[HKEY_CLASSES_ROOT\\Sample.Thing]\n"
            "\n[HKEY_CLASSES_ROOT\\Sample.Thing\\CLSID]\n"
            "@=\"C:\\\\path with \\\"quotes\\\"\"\n"
            "\"Count\"=dword:0000002a\n"
            "\"Blob\"=hex:01,02,ff\n"
            "\"Expand\"=hex(2):25,41,25,00\n"
            "\"Raw\"=hex(1):61,62\n"
            "\n[HKEY_CURRENT_USER\\Empty]\n"
            "\n[HKEY_CURRENT_USER\\Empty\\Key]\n");
}

TEST_F(RegistryStore, ReadsWhatRegeditWritesIncludingContinuedHexLines) {
  WriteFile(file_,
            "REGEDIT4\r\n"
            "\r\n"
            "; a comment\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
            "@=\"default\"\r\n"
            "\"Line\"=\"a\\nb\\r\"\r\n"
            "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
            "  16,17\r\n"
            "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
            "\"Number\"=dword:FFFFFFFF\r\n");
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "software\\vendor", nullptr), std::string("default\0", 8));
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Line"), std::string("a\nb\r\0", 5));
  DWORD type = 0;
  std::string longValue = Query(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Long", &type);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(longValue.size(), 24u);
  EXPECT_EQ(longValue[23], 0x17);
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Quad", &type).size(), 8u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "Software\\Vendor", "Number", &type), std::string(4, '\xff'));
}

TEST_F(RegistryStore, LongBinaryValuesWrapAndReadBackUnchanged) {
  HKEY key = Create(HKEY_CURRENT_USER, "Wrap");
  std::vector<BYTE> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7);
  ASSERT_EQ(RegSetValueExA(key, "big", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  RegCloseKey(key);
  std::string text = ReadFile(file_);
  EXPECT_NE(text.find(",\\\n  "), std::string::npos);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    EXPECT_LE(end - start, 80u);
    start = end + 1;
  }
  // Another store file with the same text reads back the same bytes.
  UseCopy(text);
  EXPECT_EQ(Query(HKEY_CURRENT_USER, "Wrap", "big"), std::string(data.begin(), data.end()));
}

TEST_F(RegistryStore, NonAsciiBytesAreWrittenAsTheyAre) {
  // The bytes of a UTF-8 path and a Windows-1252 name both survive the file.
  HKEY key = Create(HKEY_CLASSES_ROOT, "Caf\xE9");
  const char path[] = "/home/\xC3\xA9l\xC3\xA8ve/lib.so";
  ASSERT_EQ(RegSetValueExA(key, "Na\xEFve", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path),
            ERROR_SUCCESS);
  RegCloseKey(key);
  std::string text = ReadFile(file_);
  EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\Caf\xE9]\n\"Na\xEFve\"=\"/home/\xC3\xA9l\xC3\xA8ve/lib.so\"\n"),
            std::string::npos);
  UseCopy(text);
  EXPECT_EQ(Query(HKEY_CLASSES_ROOT, "CAF\xE9", "NA\xEFVE"), std::string(path, sizeof path));
}

TEST_F(RegistryStore, ChangesByAnotherWriterAreSeenThroughOpenHandles) {
  HKEY key = Create(HKEY_CURRENT_USER, "Shared\\Kept");
  RegCloseKey(Create(HKEY_CURRENT_USER, "Shared\\Dropped"));
  HKEY dropped = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared\\Dropped", 0, KEY_READ, &dropped), ERROR_SUCCESS);
  // Someone else replaces the file: Kept gains a value, Dropped is gone.
  std::string replaced =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Shared]\n\n[HKEY_CURRENT_USER\\Shared\\Kept]\n\"new\"=\"value\"\n";
  std::string temp = file_ + ".other";
  WriteFile(temp, replaced);
  std::filesystem::rename(temp, file_);

  char buf[32];
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, "new", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "value");
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(dropped, "x", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_KEY_DELETED);
  RegCloseKey(dropped);
  RegCloseKey(key);
}

TEST_F(RegistryStore, AnUnreadableFileIsReportedAndNeverWrittenOver) {
  const std::string garbage = "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"broken=\n";
  WriteFile(file_, garbage);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegSetValueExA(HKEY_CURRENT_USER, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A"), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(ReadFile(file_), garbage);

  // Repaired by hand, the file is used again.
  WriteFile(file_, "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"fixed\"=\"yes\"\n");
  EXPECT_EQ(Query(HKEY_CURRENT_USER, "A", "fixed"), std::string("yes\0", 4));
}

TEST_F(RegistryStore, FilesThatAreNotRegeditTextAreRefused) {
  for (const std::string& bad :
       {std::string(""), std::string("Windows Registry Editor Version 5.00\n"),
        std::string("REGEDIT4\n\"orphan\"=\"value\"\n"), std::string("REGEDIT4\n[HKEY_NOWHERE\\X]\n"),
        std::string("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=dword:123456789\n"),
        std::string("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=hex:1,2\n"),
        std::string("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=\"bad \\q escape\"\n"),
        std::string("REGEDIT4\n[HKEY_CURRENT_USER\\\\X]\n")}) {
    std::filesystem::remove(file_);
    WriteFile(file_, bad);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "X", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT) << bad;
  }
}

TEST_F(RegistryStore, NestingIsBoundedInTheFileAndInCalls) {
  std::string deep = "REGEDIT4\n[HKEY_CURRENT_USER";
  for (int i = 0; i < 513; ++i) deep += "\\k";
  regtest::WriteFile(file_, deep + "]\n");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "k", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
  std::filesystem::remove(file_);
  std::string path = "k";
  for (int i = 1; i < 512; ++i) path += "\\k";
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  HKEY deeper = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "one-too-many", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper, nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryStore, WithoutAFileTheRegistryIsEmptyAndNothingIsCreatedByReading) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Anything", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(RegistryStore, AFolderThatCannotHoldTheFileFailsWritesCleanly) {
  setenv("ALBUMMAKER_REGISTRY", "/proc/albummaker-no-such-folder/registry.reg", 1);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "X", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStore, TheDefaultLocationFollowsXdgDataHome) {
  unsetenv("ALBUMMAKER_REGISTRY");
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  std::string saved = oldXdg ? oldXdg : "";
  setenv("XDG_DATA_HOME", dir_.c_str(), 1);
  RegCloseKey(Create(HKEY_CURRENT_USER, "Located"));
  std::string expected = dir_ + "/albummaker/registry.reg";
  EXPECT_NE(ReadFile(expected).find("[HKEY_CURRENT_USER\\Located]"), std::string::npos);
  if (oldXdg) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

TEST_F(RegistryStore, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kThreads = 4, kKeys = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kKeys; ++i) {
        std::string name = "Threads\\t" + std::to_string(t) + "_" + std::to_string(i);
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
          continue;
        DWORD v = static_cast<DWORD>(t * 1000 + i);
        RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
        RegCloseKey(key);
      }
    });
  }
  for (auto& th : threads) th.join();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Threads", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD subKeys = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(subKeys, static_cast<DWORD>(kThreads * kKeys));
  std::string text = ReadFile(file_);
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kKeys; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "\"v\"=dword:%08x", t * 1000 + i);
      EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

TEST_F(RegistryStore, RootsCannotBeDeletedAndHandlesToThemNeedNoClosing) {
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  RegCloseKey(Create(HKEY_CLASSES_ROOT, "StillThere"));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "StillThere", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace
