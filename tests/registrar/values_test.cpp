// The three value types and how their data is written.
#include <string>
#include <vector>

#include "registrar_test_util.h"

namespace albummaker::testing {
namespace {

using Values = RegistrarTest;

std::vector<BYTE> Bytes(std::initializer_list<int> list) {
  std::vector<BYTE> bytes;
  for (int b : list) bytes.push_back(static_cast<BYTE>(b));
  return bytes;
}

TEST_F(Values, StringDataKeepsItsTerminatingZero) {
  ASSERT_EQ(Register("HKCR { K = S 'abc' { val n = s '' } }"), S_OK);
  auto value = registry.Value("HKCR\\K", "");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value->data, Bytes({'a', 'b', 'c', 0}));
  auto empty = registry.Value("HKCR\\K", "n");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->data, Bytes({0}));
}

TEST_F(Values, NumbersAreFourLittleEndianBytes) {
  ASSERT_EQ(Register("HKCR { K { val max = d '4294967295' val small = D 258 } }"), S_OK);
  auto max = registry.Value("HKCR\\K", "max");
  ASSERT_TRUE(max);
  EXPECT_EQ(max->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(max->data, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  auto small = registry.Value("HKCR\\K", "small");
  ASSERT_TRUE(small);
  EXPECT_EQ(small->data, Bytes({0x02, 0x01, 0x00, 0x00}));
}

TEST_F(Values, NumbersThatDoNotConvertAreRefused) {
  EXPECT_EQ(Register("HKCR { K = d 'twelve' }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K = d '4294967296' }"), kSyntax);
  EXPECT_EQ(Register("HKCR { K = d '' }"), kSyntax);
  EXPECT_FALSE(registry.HasKey("HKCR\\K"));
}

TEST_F(Values, BinaryDigitsPairUpIntoBytes) {
  ASSERT_EQ(Register("HKCR { K { val a = b '0aFF' val z = b zz val e = b '' val m = B 'A1b2c3' } }"), S_OK);
  auto a = registry.Value("HKCR\\K", "a");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(a->data, Bytes({0x0A, 0xFF}));
  EXPECT_EQ(registry.Value("HKCR\\K", "z")->data, Bytes({0x00}));
  auto e = registry.Value("HKCR\\K", "e");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->type, static_cast<DWORD>(REG_BINARY));
  EXPECT_TRUE(e->data.empty());
  EXPECT_EQ(registry.Value("HKCR\\K", "m")->data, Bytes({0xA1, 0xB2, 0xC3}));
}

TEST_F(Values, BinaryWithAnOddDigitCountFails) {
  EXPECT_EQ(Register("HKCR { K = b '0aF' }"), kEFail);
  EXPECT_FALSE(registry.HasKey("HKCR\\K"));
}

TEST_F(Values, ValueReplacesEarlierData) {
  registry.AddString("HKCR\\K", "", "old");
  ASSERT_EQ(Register("HKCR { K = d 7 }"), S_OK);
  EXPECT_EQ(registry.Value("HKCR\\K", "")->type, static_cast<DWORD>(REG_DWORD));
}

TEST_F(Values, ValAtRootLevelWritesIntoThePredefinedKey) {
  ASSERT_EQ(Register("HKCU { val top = s 'here' }"), S_OK);
  EXPECT_EQ(Text("HKCU", "top"), "here");
}

}  // namespace
}  // namespace albummaker::testing
