// GUID text in both directions, and task memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <ole2.h>

namespace {

const GUID kSample = {0x111D7E37, 0x5526, 0x458D, {0x84, 0x9C, 0x0B, 0xA0, 0x76, 0x58, 0x13, 0xEB}};

TEST(RuntimeGuid, WritesTheBracedUpperCaseForm) {
  OLECHAR text[40];
  ASSERT_EQ(StringFromGUID2(kSample, text, 40), 39);
  EXPECT_EQ(std::u16string(text), u"{111D7E37-5526-458D-849C-0BA0765813EB}");
  EXPECT_EQ(StringFromGUID2(kSample, text, 38), 0);  // no room for the terminator
  EXPECT_EQ(StringFromGUID2(kSample, nullptr, 39), 0);
}

TEST(RuntimeGuid, ReadsTheBracedFormInAnyLetterCase) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(u"{111d7e37-5526-458d-849c-0ba0765813eb}", &clsid), S_OK);
  EXPECT_TRUE(clsid == kSample);
  OLECHAR text[39];
  StringFromGUID2(kSample, text, 39);
  IID iid{};
  ASSERT_EQ(IIDFromString(text, &iid), S_OK);
  EXPECT_TRUE(iid == kSample);
  ASSERT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
  EXPECT_TRUE(clsid == CLSID_NULL);
}

TEST(RuntimeGuid, RejectsMalformedText) {
  const char16_t* bad[] = {
      u"",
      u"111D7E37-5526-458D-849C-0BA0765813EB",     // no braces
      u"{111D7E37-5526-458D-849C-0BA0765813E}",    // one digit short
      u"{111D7E37-5526-458D-849C-0BA0765813EBA}",  // one digit long
      u"{111D7E37-5526-458D-849C-0BA0765813EB} ",  // trailing text
      u"{111D7E37-5526-458D-849C+0BA0765813EB}",   // wrong separator
      u"{111D7E3G-5526-458D-849C-0BA0765813EB}",   // not hex
      u"{111D7E37-5526-458D-849C-0BA07658\u0661\u0662EB}",
  };
  for (const char16_t* text : bad) {
    CLSID clsid = kSample;
    EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING)
        << std::string(text, text + std::char_traits<char16_t>::length(text));
    EXPECT_TRUE(clsid == CLSID_NULL);
    IID iid{};
    EXPECT_EQ(IIDFromString(text, &iid), E_INVALIDARG);
  }
  EXPECT_EQ(CLSIDFromString(u"{111D7E37-5526-458D-849C-0BA0765813EB}", nullptr), E_INVALIDARG);
}

TEST(RuntimeTaskMemory, AllocatesGrowsAndFrees) {
  auto* p = static_cast<char*>(CoTaskMemAlloc(4));
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abc", 4);
  p = static_cast<char*>(CoTaskMemRealloc(p, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "abc");                      // contents survive growth
  EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr);  // a size of 0 frees
  void* fresh = CoTaskMemRealloc(nullptr, 8);
  ASSERT_NE(fresh, nullptr);
  CoTaskMemFree(fresh);
  void* empty = CoTaskMemAlloc(0);
  EXPECT_NE(empty, nullptr);
  CoTaskMemFree(empty);
  CoTaskMemFree(nullptr);
}

}  // namespace
