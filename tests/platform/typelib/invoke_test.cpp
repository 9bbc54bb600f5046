// ITypeInfo::Invoke against the sample object: member choice by flags,
// argument order (DISPPARAMS holds them last first), coercion, by-reference
// arguments, the retval, parameter-count errors and exception information.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "owners.h"
#include "sample_object.h"

namespace typelib_test {
namespace {

VARIANT I4(LONG v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}

VARIANT R8(double v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_R8;
  x.dblVal = v;
  return x;
}

// Owns its string: cleared by the Args holder below.
VARIANT Str(const char16_t* s) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_BSTR;
  x.bstrVal = SysAllocString(s);
  return x;
}

VARIANT Ref(VARTYPE vt, void* p) {
  VARIANT x;
  VariantInit(&x);
  x.vt = static_cast<VARTYPE>(VT_BYREF | vt);
  x.byref = p;
  return x;
}

VARIANT Missing() {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_ERROR;
  x.scode = DISP_E_PARAMNOTFOUND;
  return x;
}

// Arguments in call order; DISPPARAMS receives them reversed.
class Args {
 public:
  Args(std::initializer_list<VARIANT> inCallOrder) : vars_(inCallOrder.begin(), inCallOrder.end()) {
    std::reverse(vars_.begin(), vars_.end());
  }
  ~Args() {
    for (auto& v : vars_) VariantClear(&v);
  }
  // Names the first `ids.size()` entries of rgvarg (the last arguments).
  DISPPARAMS* Params(std::vector<DISPID> ids = {}) {
    named_ = std::move(ids);
    params_.rgvarg = vars_.empty() ? nullptr : vars_.data();
    params_.cArgs = static_cast<UINT>(vars_.size());
    params_.rgdispidNamedArgs = named_.empty() ? nullptr : named_.data();
    params_.cNamedArgs = static_cast<UINT>(named_.size());
    return &params_;
  }

 private:
  std::vector<VARIANT> vars_;
  std::vector<DISPID> named_;
  DISPPARAMS params_{};
};

class InvokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = LoadSample();
    ASSERT_NE(lib_, nullptr);
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(kIidSample, info_.put()), S_OK);
    object_ = std::make_unique<SampleObject>(info_.get(), true);
    VariantInit(&result_);
  }
  void TearDown() override {
    resultOwner_.reset();  // before the count: the result may hold the object
    if (object_) {
      // Every reference Invoke took on the object was given back.
      EXPECT_EQ(object_->refs(), 1u);
      object_.reset();
    }
    info_.reset();  // the library's count below expects its type info back
    if (lib_) {
      EXPECT_EQ(lib_->Release(), 0u);
    }
  }
  HRESULT Call(DISPID id, WORD flags, DISPPARAMS* params) {
    resultOwner_.reset();
    argErr_ = 9999;
    return object_->Invoke(id, IID_NULL, 0, flags, params, &result_, &excep_, &argErr_);
  }
  std::u16string ResultText() {
    EXPECT_EQ(result_.vt, VT_BSTR);
    return result_.vt == VT_BSTR ? Text(result_.bstrVal) : u"";
  }
  void ClearExcep() { excepOwner_.reset(); }

  ITypeLib* lib_ = nullptr;
  am::ComPtr<ITypeInfo> info_;
  std::unique_ptr<SampleObject> object_;
  // The tests read and write the plain structures; the owners free them.
  am::UniqueVariant resultOwner_;
  VARIANT& result_ = *resultOwner_;
  am::UniqueExcepInfo excepOwner_;
  EXCEPINFO& excep_ = *excepOwner_.put();
  UINT argErr_ = 0;
};

TEST_F(InvokeTest, PropertyPutWithNamedArgumentThenGet) {
  Args put{Str(u"album")};
  ASSERT_EQ(Call(1, DISPATCH_PROPERTYPUT, put.Params({DISPID_PROPERTYPUT})), S_OK);
  EXPECT_EQ(result_.vt, VT_EMPTY);
  Args none{};
  ASSERT_EQ(Call(1, DISPATCH_PROPERTYGET, none.Params()), S_OK);
  EXPECT_EQ(ResultText(), u"album");
  // Script hosts ask for gets with both flags.
  ASSERT_EQ(Call(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none.Params()), S_OK);
  EXPECT_EQ(ResultText(), u"album");
}

TEST_F(InvokeTest, PropertyPutCoercesToTheDeclaredType) {
  Args put{Str(u" 42 ")};
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYPUT, put.Params({DISPID_PROPERTYPUT})), S_OK);
  Args none{};
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYGET, none.Params()), S_OK);
  EXPECT_EQ(result_.vt, VT_I4);
  EXPECT_EQ(result_.lVal, 42);

  Args bad{Str(u"forty")};
  EXPECT_EQ(Call(2, DISPATCH_PROPERTYPUT, bad.Params({DISPID_PROPERTYPUT})), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 0u);
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYGET, none.Params()), S_OK);
  EXPECT_EQ(result_.lVal, 42);  // unchanged
}

TEST_F(InvokeTest, MethodArgumentsArriveInDeclaredOrder) {
  Args args{I4(7), Str(u"5"), Str(u"hello"), R8(2.5)};
  ASSERT_EQ(Call(3, DISPATCH_METHOD, args.Params()), S_OK);
  EXPECT_EQ(ResultText(), u"v=3:7 n=5 t=hello s=2.5");
  // The same call as a script host sends it.
  ASSERT_EQ(Call(3, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args.Params()), S_OK);
  EXPECT_EQ(ResultText(), u"v=3:7 n=5 t=hello s=2.5");
}

TEST_F(InvokeTest, CoercionsOfEachParameter) {
  Args args{Str(u"as is"), R8(3.5), I4(12), Str(u"1.5E+1")};
  ASSERT_EQ(Call(3, DISPATCH_METHOD, args.Params()), S_OK);
  // 3.5 rounds half to even; the number becomes text; the text a double.
  EXPECT_EQ(ResultText(), u"v=8:as is n=4 t=12 s=15");
}

TEST_F(InvokeTest, TypeMismatchNamesTheArgumentIndex) {
  // rgvarg holds Scale at 0, Text at 1, Number at 2, Value at 3.
  Args badNumber{I4(1), Str(u"abc"), Str(u"t"), R8(1)};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, badNumber.Params()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 2u);
  EXPECT_EQ(result_.vt, VT_EMPTY);
  Args badScale{I4(1), I4(2), Str(u"t"), Str(u"x")};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, badScale.Params()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 0u);
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  Args nullText{I4(1), I4(2), null, R8(1)};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, nullText.Params()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 1u);
}

TEST_F(InvokeTest, NamedArgumentsByParameterPosition) {
  // Text and Value named, Number and... all named: order in rgvarg is free.
  Args args{R8(0.25), Str(u"named"), I4(9), I4(4)};  // reversed: rgvarg = {4, 9, "named", 0.25}
  // rgvarg[0]=I4 4 -> Value(0), [1]=I4 9 -> Number(1), [2]="named" -> Text(2), [3]=0.25 -> Scale(3)
  ASSERT_EQ(Call(3, DISPATCH_METHOD, args.Params({0, 1, 2, 3})), S_OK);
  EXPECT_EQ(ResultText(), u"v=3:4 n=9 t=named s=0.25");

  Args mixed{I4(1), I4(2), R8(8), Str(u"late")};  // Value, Number positional; then Scale, Text named
  ASSERT_EQ(Call(3, DISPATCH_METHOD, mixed.Params({2, 3})), S_OK);
  EXPECT_EQ(ResultText(), u"v=3:1 n=2 t=late s=8");

  Args clash{I4(1), I4(2), R8(8), Str(u"late")};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, clash.Params({1, 3})), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argErr_, 0u);  // rgvarg[0] names Number, which a positional argument already gave
  Args unknown{I4(1), I4(2), R8(8), Str(u"late")};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, unknown.Params({17, 2})), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argErr_, 0u);
}

TEST_F(InvokeTest, VariantParameterReceivesByReferenceArgumentsAsTheyCame) {
  LONG number = 31;
  Args byrefI4{Ref(VT_I4, &number), I4(0), Str(u""), R8(0)};
  ASSERT_EQ(Call(3, DISPATCH_METHOD, byrefI4.Params()), S_OK);
  EXPECT_EQ(object_->lastVariantType(), VT_BYREF | VT_I4);

  VARIANT inner = I4(5);
  Args byrefVariant{Ref(VT_VARIANT, &inner), I4(0), Str(u""), R8(0)};
  ASSERT_EQ(Call(3, DISPATCH_METHOD, byrefVariant.Params()), S_OK);
  EXPECT_EQ(object_->lastVariantType(), VT_BYREF | VT_VARIANT);
  EXPECT_EQ(object_->lastByref(), &inner);
}

TEST_F(InvokeTest, ByReferenceSourcesAreCoerced) {
  const am::UniqueBstr textOwner(SysAllocString(u"12"));
  BSTR text = textOwner.get();
  VARIANT shortValue;
  VariantInit(&shortValue);
  shortValue.vt = VT_I2;
  shortValue.iVal = -3;
  double scale = 0.5;
  Args args{I4(0), Ref(VT_BSTR, &text), Ref(VT_VARIANT, &shortValue), Ref(VT_R8, &scale)};
  ASSERT_EQ(Call(3, DISPATCH_METHOD, args.Params()), S_OK);
  EXPECT_EQ(ResultText(), u"v=3:0 n=12 t=-3 s=0.5");
}

TEST_F(InvokeTest, ByReferenceParametersChangeTheCallersStorage) {
  // The member replaces the string through the owner's own slot.
  am::UniqueBstr leftOwner;
  BSTR& left = *leftOwner.put();
  left = SysAllocString(u"hey");
  LONG right = 21;
  Args direct{Ref(VT_BSTR, &left), Ref(VT_I4, &right)};
  ASSERT_EQ(Call(4, DISPATCH_METHOD, direct.Params()), S_OK);
  EXPECT_EQ(Text(left), u"hey!");
  EXPECT_EQ(right, 42);

  // Variables a script passes as VT_BYREF|VT_VARIANT holding the right type.
  am::UniqueVariant leftVarOwner;
  VARIANT& leftVar = *leftVarOwner;
  leftVar = Str(u"x");
  VARIANT rightVar = I4(5);
  Args viaVariant{Ref(VT_VARIANT, &leftVar), Ref(VT_VARIANT, &rightVar)};
  ASSERT_EQ(Call(4, DISPATCH_METHOD, viaVariant.Params()), S_OK);
  EXPECT_EQ(Text(leftVar.bstrVal), u"x!");
  EXPECT_EQ(rightVar.lVal, 10);

  // Values of another type go through a temporary: the call works and the
  // caller's values stay as they were.
  Args byValue{I4(7), Str(u"3")};
  ASSERT_EQ(Call(4, DISPATCH_METHOD, byValue.Params()), S_OK);
  Args wrong{Str(u"ok"), Str(u"three")};
  EXPECT_EQ(Call(4, DISPATCH_METHOD, wrong.Params()), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 0u);
}

TEST_F(InvokeTest, VariantPointerParameter) {
  VARIANT target = I4(1);
  Args byRef{Ref(VT_VARIANT, &target)};
  ASSERT_EQ(Call(8, DISPATCH_METHOD, byRef.Params()), S_OK);
  EXPECT_EQ(object_->lastByref(), &target);
  EXPECT_EQ(target.lVal, 2);
  // A plain value is lent as a copy: the member's change does not leak back
  // and the copy's string is freed.
  Args plain{Str(u"keep")};
  ASSERT_EQ(Call(8, DISPATCH_METHOD, plain.Params()), S_OK);
  EXPECT_EQ(object_->lastVariantType(), VT_BSTR);
}

TEST_F(InvokeTest, OutputParameters) {
  am::UniqueBstr textOwner;
  BSTR& text = *textOwner.put();
  am::UniqueVariant valueOwner;
  VARIANT& value = *valueOwner;
  VariantInit(&value);
  Args byRef{Ref(VT_BSTR, &text), Ref(VT_VARIANT, &value)};
  ASSERT_EQ(Call(9, DISPATCH_METHOD, byRef.Params()), S_OK);
  EXPECT_EQ(Text(text), u"made");
  ASSERT_EQ(value.vt, VT_BSTR);
  EXPECT_EQ(Text(value.bstrVal), u"made too");
  textOwner.reset();
  valueOwner.reset();
  // Plain values: the outputs land in temporaries and are freed there, and
  // nothing the caller passed is freed or lost (the leak checker watches).
  Args plain{Str(u"in"), Str(u"in too")};
  ASSERT_EQ(Call(9, DISPATCH_METHOD, plain.Params()), S_OK);
}

TEST_F(InvokeTest, ParameterCounts) {
  Args tooMany{I4(1), I4(2), Str(u"t"), R8(1), I4(5)};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, tooMany.Params()), DISP_E_BADPARAMCOUNT);
  Args tooFew{I4(1), I4(2)};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, tooFew.Params()), DISP_E_BADPARAMCOUNT);
  Args getWithArgument{I4(1)};
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, getWithArgument.Params()), DISP_E_BADPARAMCOUNT);
  Args putWithout{};
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, putWithout.Params()), DISP_E_BADPARAMCOUNT);
  // A required parameter marked as omitted.
  Args omitted{I4(1), Missing(), Str(u"t"), R8(1)};
  EXPECT_EQ(Call(3, DISPATCH_METHOD, omitted.Params()), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(argErr_, 2u);
  // A required parameter left out by the named arguments.
  Args gap{Str(u"second only")};
  EXPECT_EQ(Call(6, DISPATCH_METHOD, gap.Params({1})), DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(InvokeTest, OptionalVariantMayBeOmitted) {
  Args one{I4(6)};
  ASSERT_EQ(Call(6, DISPATCH_METHOD, one.Params()), S_OK);
  EXPECT_EQ(object_->lastVariantType(), VT_ERROR);
  EXPECT_EQ(result_.vt, VT_I4);
  EXPECT_EQ(result_.lVal, 6);
  Args marked{I4(6), Missing()};
  ASSERT_EQ(Call(6, DISPATCH_METHOD, marked.Params()), S_OK);
  EXPECT_EQ(result_.lVal, 6);
  // A VARIANT retval comes back whole.
  Args both{I4(6), Str(u"second")};
  ASSERT_EQ(Call(6, DISPATCH_METHOD, both.Params()), S_OK);
  EXPECT_EQ(ResultText(), u"second");
}

TEST_F(InvokeTest, MemberChoiceByFlags) {
  Args none{};
  EXPECT_EQ(Call(3, DISPATCH_PROPERTYGET, none.Params()), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(3, DISPATCH_PROPERTYPUT, none.Params()), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(1, DISPATCH_METHOD, none.Params()), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(99, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none.Params()), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(1, 0, none.Params()), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(object_->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &result_, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(InvokeTest, ResultMayBeNullAndIsThenReleased) {
  Args put{Str(u"dropped")};
  ASSERT_EQ(Call(1, DISPATCH_PROPERTYPUT, put.Params({DISPID_PROPERTYPUT})), S_OK);
  Args none{};
  // The BSTR the member returns is freed (the leak checker would see it).
  EXPECT_EQ(object_->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, none.Params(), nullptr, nullptr, nullptr), S_OK);
}

TEST_F(InvokeTest, FailingMemberReportsItsErrorInformation) {
  Args args{I4(static_cast<LONG>(0x80040201))};
  ASSERT_EQ(Call(5, DISPATCH_METHOD, args.Params()), DISP_E_EXCEPTION);
  EXPECT_EQ(excep_.scode, static_cast<SCODE>(0x80040201));
  EXPECT_EQ(Text(excep_.bstrSource), u"Sample.Source");
  EXPECT_EQ(Text(excep_.bstrDescription), u"it failed");
  EXPECT_EQ(Text(excep_.bstrHelpFile), u"sample.hlp");
  EXPECT_EQ(excep_.dwHelpContext, 42u);
  EXPECT_EQ(excep_.wCode, 0);
  ClearExcep();
  // The information was handed over, not left behind for the thread.
  IErrorInfo* left = reinterpret_cast<IErrorInfo*>(&left);
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
  EXPECT_EQ(left, nullptr);
}

TEST_F(InvokeTest, FailingMemberWithoutExceptionInformationReturnsItsCode) {
  Args args{I4(static_cast<LONG>(0x80040203))};
  EXPECT_EQ(object_->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, args.Params(), &result_, nullptr, &argErr_),
            static_cast<HRESULT>(0x80040203));
  // The error information was not taken: it is still the thread's.
  am::ComPtr<IErrorInfo> left;
  ASSERT_EQ(GetErrorInfo(0, left.put()), S_OK);
  am::UniqueBstr descriptionOwner;
  BSTR& description = *descriptionOwner.put();
  left->GetDescription(&description);
  EXPECT_EQ(Text(description), u"it failed");
}

TEST_F(InvokeTest, PutLeavesTheResultVariantAlone) {
  Args put{I4(3)};
  result_ = I4(-8);
  EXPECT_EQ(object_->Invoke(2, IID_NULL, 0, DISPATCH_PROPERTYPUT, put.Params({DISPID_PROPERTYPUT}), &result_, &excep_,
                            &argErr_),
            S_OK);
  EXPECT_EQ(result_.vt, VT_I4);
  EXPECT_EQ(result_.lVal, -8);
}

TEST_F(InvokeTest, FailingMemberWithoutErrorInfoSupportReturnsItsCode) {
  SampleObject plain(info_.get(), false);
  Args args{I4(static_cast<LONG>(0x80040202))};
  EXPECT_EQ(plain.Invoke(5, IID_NULL, 0, DISPATCH_METHOD, args.Params(), &result_, &excep_, &argErr_),
            static_cast<HRESULT>(0x80040202));
  EXPECT_EQ(excep_.bstrDescription, nullptr);
  EXPECT_EQ(plain.refs(), 1u);
  // The member's error information stays the thread's.
  am::ComPtr<IErrorInfo> left;
  ASSERT_EQ(GetErrorInfo(0, left.put()), S_OK);
}

TEST_F(InvokeTest, RegistersAndStackAllCarryTheirArguments) {
  VARIANT c = I4(-77);
  Args args{I4(-2),   R8(1.5),  c,        I4(200),  I4(-1),   I4(-100000), I4(7),    R8(1.25),  R8(2.25),
            R8(3.25), R8(4.25), R8(5.25), R8(6.25), R8(7.25), R8(8.25),    R8(-0.5), I4(123456)};
  ASSERT_EQ(Call(7, DISPATCH_METHOD, args.Params()), S_OK);
  EXPECT_EQ(ResultText(), u"-2,1.5,3:-77,200,-1,-100000,7,1.25,2.25,3.25,4.25,5.25,6.25,7.25,8.25,-0.5,123456");
}

TEST_F(InvokeTest, ThroughTheVtableViewToo) {
  HREFTYPE ref = 0;
  ASSERT_EQ(info_->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  am::ComPtr<ITypeInfo> view;
  ASSERT_EQ(info_->GetRefTypeInfo(ref, view.put()), S_OK);
  Args args{I4(1), I4(2), Str(u"v"), R8(4)};
  ASSERT_EQ(
      view->Invoke(static_cast<ISample*>(object_.get()), 3, DISPATCH_METHOD, args.Params(), &result_, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(ResultText(), u"v=3:1 n=2 t=v s=4");
}

TEST_F(InvokeTest, ConcurrentCallsOnOneTypeInfo) {
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Args args{I4(t), I4(i), Str(u"x"), R8(1)};
        am::UniqueVariant resultOwner;
        VARIANT& result = *resultOwner;
        const HRESULT hr = info_->Invoke(static_cast<ISample*>(object_.get()), 3, DISPATCH_METHOD, args.Params(),
                                         &result, nullptr, nullptr);
        const std::u16string expected = u"v=3:" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u" n=";
        if (hr == S_OK && result.vt == VT_BSTR && Text(result.bstrVal).rfind(expected, 0) == 0) ++ok[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(ok[t], 200) << t;
}

}  // namespace
}  // namespace typelib_test
