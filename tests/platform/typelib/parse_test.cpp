// Reading type descriptions: what a good one yields, and that a bad one is
// refused as a whole with the line at fault, never half-built.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "owners.h"
#include "sample_object.h"
#include "temp_folder.h"

namespace typelib_test {
namespace {

ITypeLib* FromText(const std::string& text, HRESULT* hr) {
  ITypeLib* lib = reinterpret_cast<ITypeLib*>(&lib);  // not null: a failure must clear it
  *hr = albumrt::LoadTypeLibFromDescription(text.data(), text.size(), nullptr, &lib);
  return lib;
}

const char kMinimal[] =
    "library L\n"
    "  uuid 11111111-2222-3333-4444-555555555555\n"
    "  version 1.0\n"
    "interface I\n"
    "  uuid 11111111-2222-3333-4444-555555555556\n"
    "  flags dual\n"
    "  base IDispatch\n"
    "  method 1 M\n"
    "    param x I4\n"
    "end\n";

TEST(TypeDescriptionParse, SampleLibraryAttributes) {
  ITypeLib* lib = LoadSample();
  ASSERT_NE(lib, nullptr);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kLibid);
  EXPECT_EQ(attr->wMajorVerNum, 2);
  EXPECT_EQ(attr->wMinorVerNum, 3);
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->wLibFlags, 0);
  lib->ReleaseTLibAttr(attr);

  am::UniqueBstr name, doc, file;
  DWORD context = 0;
  ASSERT_EQ(lib->GetDocumentation(-1, name.put(), doc.put(), &context, file.put()), S_OK);
  EXPECT_EQ(Text(name.get()), u"SampleLib");
  EXPECT_EQ(Text(doc.get()), u"Sample 2.3 Type Library");
  EXPECT_EQ(Text(file.get()), u"sample.hlp");
  EXPECT_EQ(context, 17u);

  ASSERT_EQ(lib->GetTypeInfoCount(), 2u);
  TYPEKIND kind{};
  EXPECT_EQ(lib->GetTypeInfoType(0, &kind), S_OK);
  EXPECT_EQ(kind, TKIND_DISPATCH);  // a dual interface is seen as its dispatch view
  EXPECT_EQ(lib->GetTypeInfoType(1, &kind), S_OK);
  EXPECT_EQ(kind, TKIND_COCLASS);
  EXPECT_EQ(lib->GetTypeInfoType(2, &kind), TYPE_E_ELEMENTNOTFOUND);
  ASSERT_EQ(lib->GetDocumentation(1, name.put(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name.get()), u"Sample");
  EXPECT_EQ(lib->GetDocumentation(2, name.put(), nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(lib->Release(), 0u);
}

TEST(TypeDescriptionParse, ShippedComponentDescriptionIsWellFormed) {
  std::ifstream in(AM_ALBUM_TYPEDESC, std::ios::binary);
  ASSERT_TRUE(in.good());
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  std::string message;
  EXPECT_EQ(albumrt::CheckTypeDescription(text.data(), text.size(), &message), S_OK) << message;
}

TEST(TypeDescriptionParse, StringsEscapesAndUtf8) {
  std::string text = kMinimal;
  text.insert(text.find("interface"), "  helpstring \"caf\xC3\xA9 \\\"q\\\" \\\\ \xF0\x9F\x98\x80\" # note\n");
  HRESULT hr;
  const am::ComPtr<ITypeLib> lib(FromText(text, &hr));
  ASSERT_EQ(hr, S_OK);
  am::UniqueBstr doc;
  ASSERT_EQ(lib->GetDocumentation(-1, nullptr, doc.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(doc.get()), u"caf\u00E9 \"q\" \\ \U0001F600");
}

TEST(TypeDescriptionParse, CommentsBlankLinesCrLfAndBom) {
  std::string text = "\xEF\xBB\xBF# heading\r\n\r\n";
  for (char c : std::string(kMinimal)) {
    if (c == '\n') text += "   # trailing comment\r";
    text += c;
  }
  HRESULT hr;
  const am::ComPtr<ITypeLib> lib(FromText(text, &hr));
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(lib->GetTypeInfoCount(), 1u);
}

struct BadCase {
  const char* what;
  const char* find;     // text of kMinimal to replace
  const char* replace;  // its replacement
  int line;             // the line the message must name
};

const BadCase kBadCases[] = {
    {"does not start with library", "library L\n", "interface X\n", 1},
    {"unknown library statement", "  version 1.0\n", "  version 1.0\n  colour blue\n", 4},
    {"malformed guid", "-555555555555\n", "-55555555555Z\n", 2},
    {"guid too short", "-555555555555\n", "-55555555555\n", 2},
    {"version without minor", "version 1.0", "version 1", 3},
    {"missing end", "end\n", "", 9},
    {"end outside a block", "end\n", "end\nend\n", 11},
    {"unknown type", "x I4", "x INT32", 9},
    {"unknown parameter flag", "x I4", "x I4 inout", 9},
    {"out parameter that is no pointer", "x I4", "x I4 out", 9},
    {"retval without out", "x I4", "x I4* retval", 9},
    {"parameter after the retval", "x I4\n", "x I4* out retval\n    param y I4\n", 10},
    {"unnamed parameter of a method", "x I4", "- I4", 9},
    {"dispid not a number", "method 1 M", "method one M", 8},
    {"dispid out of range", "method 1 M", "method 0x1FFFFFFFF M", 8},
    {"same dispid and kind twice", "end\n", "  method 1 N\nend\n", 10},
    {"same name with another dispid", "end\n", "  method 2 M\nend\n", 10},
    {"unterminated string", "  flags dual\n", "  helpstring \"open\n  flags dual\n", 6},
    {"unknown escape", "  flags dual\n", "  helpstring \"a\\tb\"\n  flags dual\n", 6},
    {"text glued to a string", "  flags dual\n", "  helpstring \"a\"b\n  flags dual\n", 6},
    {"dual over IUnknown", "base IDispatch", "base IUnknown", 10},
    {"unknown base", "base IDispatch", "base IFoo", 7},
    {"interface without a base", "  base IDispatch\n", "", 9},
    {"interface without a uuid", "  uuid 11111111-2222-3333-4444-555555555556\n", "", 9},
    {"param before any member", "  method 1 M\n", "", 8},
    {"required after optional", "x I4\n", "x I4 opt\n    param y I4\n", 8},
    {"invalid UTF-8 in a string", "  flags dual\n", "  helpstring \"\xC3\x28\"\n  flags dual\n", 6},
    {"unknown interface flag", "flags dual", "flags dual shiny", 6},
    {"two types with one uuid", "end\n",
     "end\ninterface J\n  uuid 11111111-2222-3333-4444-555555555556\n"
     "  base IUnknown\nend\n",
     14},
    {"coclass implementing an unknown interface", "end\n",
     "end\ncoclass C\n  uuid 11111111-2222-3333-4444-"
     "555555555557\n  implements Nope default\nend\n",
     13},
};

class BadDescription : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescription, IsRefusedAndNamesTheLine) {
  const BadCase& c = GetParam();
  std::string text = kMinimal;
  const size_t at = text.find(c.find);
  ASSERT_NE(at, std::string::npos) << c.what;
  text.replace(at, std::strlen(c.find), c.replace);
  HRESULT hr;
  ITypeLib* lib = FromText(text, &hr);
  EXPECT_EQ(hr, TYPE_E_INVDATAREAD) << c.what;
  EXPECT_EQ(lib, nullptr) << c.what;
  std::string message;
  EXPECT_EQ(albumrt::CheckTypeDescription(text.data(), text.size(), &message), TYPE_E_INVDATAREAD);
  EXPECT_EQ(message.rfind("line " + std::to_string(c.line) + ":", 0), 0u) << c.what << ": " << message;
}

INSTANTIATE_TEST_SUITE_P(Cases, BadDescription, ::testing::ValuesIn(kBadCases));

TEST(TypeDescriptionParse, NulByteAndEmptyTextAreRefused) {
  std::string text = kMinimal;
  text[text.find("M\n")] = '\0';
  HRESULT hr;
  EXPECT_EQ(FromText(text, &hr), nullptr);
  EXPECT_EQ(hr, TYPE_E_INVDATAREAD);
  EXPECT_EQ(FromText("", &hr), nullptr);
  EXPECT_EQ(hr, TYPE_E_INVDATAREAD);
  EXPECT_EQ(albumrt::LoadTypeLibFromDescription(kMinimal, sizeof kMinimal - 1, nullptr, nullptr), E_POINTER);
}

// Every prefix of a valid description is either a valid description itself or
// refused cleanly; none may crash or leak (the sanitizer builds watch that).
TEST(TypeDescriptionParse, EveryPrefixOfTheSampleIsHandled) {
  const std::string text = SampleText();
  ASSERT_FALSE(text.empty());
  size_t accepted = 0;
  for (size_t n = 0; n <= text.size(); ++n) {
    HRESULT hr;
    const am::ComPtr<ITypeLib> lib(FromText(text.substr(0, n), &hr));
    if (hr == S_OK) {
      ASSERT_NE(lib.get(), nullptr);
      ++accepted;
    } else {
      ASSERT_EQ(hr, TYPE_E_INVDATAREAD) << n;
      ASSERT_EQ(lib.get(), nullptr) << n;
    }
  }
  // The whole text, and the text without its final line break, at least.
  EXPECT_GE(accepted, 2u);
}

class LoadTypeLibFile : public ::testing::Test {
 protected:
  std::u16string Write(const std::string& name, const std::string& content) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    const std::string s = path.string();
    return std::u16string(s.begin(), s.end());
  }
  albummaker::testing::TempFolder dir_;
};

TEST_F(LoadTypeLibFile, MissingAndNonDescriptionFilesCannotBeLoaded) {
  ITypeLib* lib = reinterpret_cast<ITypeLib*>(&lib);
  const std::string missing = (dir_ / "absent.typedesc").string();
  EXPECT_EQ(LoadTypeLib(std::u16string(missing.begin(), missing.end()).c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(lib, nullptr);
  // Not a description: handed to the module loader, which finds no library.
  lib = reinterpret_cast<ITypeLib*>(&lib);
  EXPECT_TRUE(FAILED(LoadTypeLib(Write("binary.bin", std::string("\x7F"
                                                                 "ELF\0\0\0",
                                                                 7))
                                     .c_str(),
                                 &lib)));
  EXPECT_EQ(lib, nullptr);
  EXPECT_EQ(LoadTypeLib(nullptr, &lib), E_INVALIDARG);
  EXPECT_EQ(LoadTypeLib(u"x", nullptr), E_POINTER);
}

TEST_F(LoadTypeLibFile, DescriptionAfterLongCommentIsRecognised) {
  const std::string text = "# " + std::string(10000, 'c') + "\n" + kMinimal;
  am::ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLib(Write("long.typedesc", text).c_str(), lib.put()), S_OK);
  EXPECT_EQ(lib->GetTypeInfoCount(), 1u);
}

TEST_F(LoadTypeLibFile, LoadTypeLibExWithoutRegistration) {
  ITypeLib* lib = nullptr;
  const std::u16string path = Write("plain.typedesc", kMinimal);
  ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib), S_OK);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(lib->Release(), 0u);
  lib = reinterpret_cast<ITypeLib*>(&lib);
  EXPECT_EQ(LoadTypeLibEx(path.c_str(), static_cast<REGKIND>(7), &lib), E_INVALIDARG);
  EXPECT_EQ(lib, nullptr);
}

TEST_F(LoadTypeLibFile, NonAsciiPathLoadsInItsAnsiAndItsUnicodeForm) {
  // The bytes on disk are UTF-8 ("Caf\xC3\xA9"); a module path read with
  // GetModuleFileNameA and widened with CP_ACP gives one unit per byte.
  const std::string name = "Caf\xC3\xA9.typedesc";
  Write(name, kMinimal);
  const std::string narrow = (dir_ / name).string();
  std::u16string ansiForm(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, nullptr, 0)), u'\0');
  ASSERT_GT(ansiForm.size(), 1u);
  MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, ansiForm.data(), static_cast<int>(ansiForm.size()));
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadTypeLib(ansiForm.c_str(), &lib), S_OK);
  EXPECT_EQ(lib->Release(), 0u);

  std::u16string unicodeForm = (dir_ / "Caf").u16string();
  unicodeForm += u"\u00E9.typedesc";
  lib = nullptr;
  ASSERT_EQ(LoadTypeLib(unicodeForm.c_str(), &lib), S_OK);
  EXPECT_EQ(lib->Release(), 0u);
}

TEST_F(LoadTypeLibFile, MalformedDescriptionFileIsRefused) {
  ITypeLib* lib = reinterpret_cast<ITypeLib*>(&lib);
  EXPECT_EQ(LoadTypeLib(Write("bad.typedesc", "library L\n  version x\n").c_str(), &lib), TYPE_E_INVDATAREAD);
  EXPECT_EQ(lib, nullptr);
}

}  // namespace
}  // namespace typelib_test
