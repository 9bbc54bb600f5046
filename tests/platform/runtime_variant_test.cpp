// BSTR and VARIANT ownership: who allocates, who frees, who holds references.
// Run under ASan, a missing free or a double free fails these tests.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include <ole2.h>

#include "owners.h"
#include "runtime_test_objects.h"

namespace {

using runtime_test::CountingDispatch;
using runtime_test::CountingUnknown;

std::u16string Text(BSTR s) { return std::u16string(s, SysStringLen(s)); }

TEST(RuntimeBstr, AllocatesCountedStrings) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  const am::UniqueBstr emptyOwner(SysAllocString(u""));
  BSTR empty = emptyOwner.get();
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);

  const am::UniqueBstr blankOwner(SysAllocStringLen(nullptr, 3));
  BSTR blank = blankOwner.get();
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(SysStringLen(blank), 3u);
  EXPECT_EQ(SysStringByteLen(blank), 6u);
  EXPECT_EQ(blank[3], 0);

  const am::UniqueBstr oddOwner(SysAllocStringByteLen("abc", 3));
  BSTR odd = oddOwner.get();
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);

  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);

  // The reallocation writes through the owner's own slot.
  am::UniqueBstr sOwner;
  BSTR& s = *sOwner.put();
  s = SysAllocString(u"one");
  ASSERT_TRUE(SysReAllocString(&s, u"three"));
  EXPECT_EQ(Text(s), u"three");
}

TEST(RuntimeVariant, ClearFreesOwnedValuesButNotReferences) {
  std::atomic<bool> destroyed{false};
  auto* obj = new CountingDispatch(1, &destroyed);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = obj;  // the variant takes over the creation reference
  obj->AddRef();     // and the test keeps one of its own
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(obj->refs.load(), 1u);

  // By reference: the variant owns nothing.
  VARIANT ref;
  ref.vt = VT_BYREF | VT_DISPATCH;
  IDispatch* held = obj;
  ref.ppdispVal = &held;
  ASSERT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(obj->refs.load(), 1u);
  obj->Release();
  EXPECT_TRUE(destroyed);

  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"owned");
  EXPECT_EQ(VariantClear(&text), S_OK);  // ASan reports a leak if this did not free

  VARIANT bad;
  bad.vt = 0x7FF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  bad.vt = VT_VARIANT;  // a variant cannot hold a variant by value
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(RuntimeVariant, CopyIsDeepForTextAndCountsObjectReferences) {
  am::UniqueVariant srcOwner, dstOwner;
  VARIANT &src = *srcOwner, &dst = *dstOwner;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(u"page");
  // The destination's old value is released by the copy.
  dst.vt = VT_BSTR;
  dst.bstrVal = SysAllocString(u"old");
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  ASSERT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(Text(dst.bstrVal), u"page");
  EXPECT_EQ(VariantCopy(&dst, &dst), S_OK);  // copying onto itself changes nothing
  EXPECT_EQ(Text(dst.bstrVal), u"page");
  srcOwner.reset();
  dstOwner.reset();

  auto* obj = new CountingDispatch();
  src.vt = VT_DISPATCH;
  src.pdispVal = obj;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(obj->refs.load(), 2u);
  EXPECT_EQ(dst.pdispVal, obj);
  dstOwner.reset();
  srcOwner.reset();  // the last reference: ASan reports a leak if it survives

  VARIANT nullText;
  nullText.vt = VT_BSTR;
  nullText.bstrVal = nullptr;
  ASSERT_EQ(VariantCopy(&dst, &nullText), S_OK);
  EXPECT_EQ(dst.vt, VT_BSTR);
  EXPECT_EQ(dst.bstrVal, nullptr);

  VARIANT bad;
  bad.vt = 0x7FF;
  EXPECT_EQ(VariantCopy(&dst, &bad), DISP_E_BADVARTYPE);
}

TEST(RuntimeVariant, CopyIndFollowsReferencesAndOwnsTheResult) {
  const am::UniqueBstr heldOwner(SysAllocString(u"by ref"));
  BSTR held = heldOwner.get();
  am::UniqueVariant refOwner;
  VARIANT& ref = *refOwner;
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = &held;
  am::UniqueVariant dstOwner;
  VARIANT& dst = *dstOwner;
  VariantInit(&dst);
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  ASSERT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, held);
  EXPECT_EQ(Text(dst.bstrVal), u"by ref");
  dstOwner.reset();

  VARIANT inner;
  inner.vt = VT_I4;
  inner.lVal = 17;
  VARIANT outer;
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&dst, &outer), S_OK);
  EXPECT_EQ(dst.vt, VT_I4);
  EXPECT_EQ(dst.lVal, 17);

  // In place: the variable becomes its value.
  ASSERT_EQ(VariantCopyInd(&ref, &ref), S_OK);
  ASSERT_EQ(ref.vt, VT_BSTR);
  EXPECT_NE(ref.bstrVal, held);

  // A reference to a reference to a variant is refused.
  VARIANT twice;
  twice.vt = VT_BYREF | VT_VARIANT;
  twice.pvarVal = &outer;
  EXPECT_EQ(VariantCopyInd(&dst, &twice), E_INVALIDARG);
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &twice, 0, VT_I4), E_INVALIDARG);
}

TEST(RuntimeVariant, ChangeTypeLeavesTheTargetAloneOnFailure) {
  am::UniqueVariant srcOwner, dstOwner;
  VARIANT &src = *srcOwner, &dst = *dstOwner;
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(u"not a number");
  dst.vt = VT_I4;
  dst.lVal = 99;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dst.vt, VT_I4);
  EXPECT_EQ(dst.lVal, 99);
  // A null BSTR is no number either, but it is an empty string.
  srcOwner.reset();
  src.vt = VT_BSTR;
  src.bstrVal = nullptr;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);
  dstOwner.reset();

  VARIANT i4;
  i4.vt = VT_I4;
  i4.lVal = 1;
  EXPECT_EQ(VariantChangeType(&dst, &i4, 0, 15), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dst, &i4, 0, VT_BYREF | VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(nullptr, &i4, 0, VT_I4), E_INVALIDARG);
}

TEST(RuntimeVariant, ChangeTypeWritesOverAndReleasesTheOldTarget) {
  VARIANT src;
  am::UniqueVariant dstOwner;
  VARIANT& dst = *dstOwner;
  src.vt = VT_I4;
  src.lVal = -42;
  dst.vt = VT_BSTR;
  dst.bstrVal = SysAllocString(u"replaced");  // freed by the conversion, or ASan reports a leak
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), u"-42");
}

TEST(RuntimeVariant, ObjectsConvertThroughTheirDefaultProperty) {
  auto* obj = new CountingDispatch(1234);
  // src ends up holding a stack object, so it is cleared by hand, once.
  VARIANT src;
  am::UniqueVariant dstOwner;
  VARIANT& dst = *dstOwner;
  src.vt = VT_DISPATCH;
  src.pdispVal = obj;
  VariantInit(&dst);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), u"1234");
  dstOwner.reset();
  EXPECT_EQ(obj->invokes.load(), 1);
  EXPECT_EQ(VariantChangeType(&dst, &src, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(obj->invokes.load(), 1);
  EXPECT_EQ(obj->refs.load(), 1u);  // no reference was kept

  // To IUnknown and back by QueryInterface, counting references.
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(dst.vt, VT_UNKNOWN);
  EXPECT_EQ(obj->refs.load(), 2u);
  am::UniqueVariant backOwner;
  VARIANT& back = *backOwner;
  VariantInit(&back);
  ASSERT_EQ(VariantChangeType(&back, &dst, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(back.pdispVal, obj);
  EXPECT_EQ(obj->refs.load(), 3u);
  backOwner.reset();
  dstOwner.reset();
  EXPECT_EQ(obj->refs.load(), 1u);
  VariantClear(&src);

  // An object with no IDispatch has no value.
  CountingUnknown plain;
  src.vt = VT_UNKNOWN;
  src.punkVal = &plain;
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_DISPATCH), E_NOINTERFACE);
  EXPECT_EQ(plain.refs.load(), 1u);
}

TEST(RuntimeVariant, ByReferenceTextIsCopiedNotTaken) {
  BSTR held = SysAllocString(u"  7 ");
  am::UniqueVariant varOwner;
  VARIANT& var = *varOwner;
  var.vt = VT_BSTR;
  var.bstrVal = held;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &var;
  am::UniqueVariant dstOwner;
  VARIANT& dst = *dstOwner;
  VariantInit(&dst);
  ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
  EXPECT_NE(dst.bstrVal, held);
  EXPECT_EQ(Text(dst.bstrVal), u"  7 ");
  dstOwner.reset();
  ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_UI1), S_OK);
  EXPECT_EQ(dst.bVal, 7);
  EXPECT_EQ(var.bstrVal, held);  // the caller's variable is untouched
}

TEST(RuntimeVariant, CurrencyAndDateTargets) {
  am::UniqueVariant srcOwner, dstOwner;
  VARIANT &src = *srcOwner, &dst = *dstOwner;
  VariantInit(&dst);
  src.vt = VT_R8;
  src.dblVal = -1.5;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_CY), S_OK);
  EXPECT_EQ(dst.cyVal.int64, -15000);
  src.dblVal = 1e16;  // beyond the currency range
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_CY), DISP_E_OVERFLOW);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(u"$12.34565");  // four decimal places, half to even
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_CY), S_OK);
  EXPECT_EQ(dst.cyVal.int64, 123456);
  ASSERT_EQ(VariantChangeType(&dst, &dst, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), u"12.3456");
  dstOwner.reset();
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_DATE), DISP_E_BADVARTYPE);  // dates are not parsed
  srcOwner.reset();
  src.vt = VT_I4;
  src.lVal = 2;
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_DATE), S_OK);
  EXPECT_EQ(dst.date, 2.0);
}

}  // namespace
