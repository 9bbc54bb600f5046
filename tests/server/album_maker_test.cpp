// The AlbumMaker object through its interface slots: the two properties, the
// argument conversions of getAlbumPage, error information and QueryInterface.
#include "server_test_support.h"

#include <cstring>

namespace albummaker::server::testing {
namespace {

class AlbumMakerTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(CreateMaker(maker_.put()), S_OK);
  }
  void TearDown() override {
    maker_.reset();
    ServerTest::TearDown();
  }
  IAlbumMaker* Maker() { return maker_.get(); }

  ComPtr<IAlbumMaker> maker_;
};

TEST_F(AlbumMakerTest, NewObjectHasEmptyNonNullPaths) {
  UniqueBstr folder;
  ASSERT_EQ(Maker()->get_FolderPath(folder.put()), S_OK);
  ASSERT_NE(folder.get(), nullptr);
  EXPECT_EQ(SysStringLen(folder.get()), 0u);
  EXPECT_EQ(GetTemplate(Maker()), u"");
  EXPECT_EQ(Maker()->get_FolderPath(nullptr), E_POINTER);
  EXPECT_EQ(Maker()->get_PageTemplatePath(nullptr), E_POINTER);
}

TEST_F(AlbumMakerTest, PutStoresTextUpToFirstNul) {
  UniqueBstr folder(MakeBstr(std::u16string(u"C:\\pics\0tail", 12)));
  UniqueBstr templ(MakeBstr(u"t\u00e9mplate.html"));
  EXPECT_EQ(Maker()->put_FolderPath(folder.get()), S_OK);
  EXPECT_EQ(Maker()->put_PageTemplatePath(templ.get()), S_OK);
  EXPECT_EQ(GetFolder(Maker()), u"C:\\pics");
  EXPECT_EQ(GetTemplate(Maker()), u"t\u00e9mplate.html");
  // A null BSTR is the empty text.
  EXPECT_EQ(Maker()->put_FolderPath(nullptr), S_OK);
  EXPECT_EQ(GetFolder(Maker()), u"");
  EXPECT_EQ(GetTemplate(Maker()), u"t\u00e9mplate.html");
}

class PageSelectionTest : public AlbumMakerTest {
 protected:
  void SetUp() override {
    AlbumMakerTest::SetUp();
    UniqueBstr folder(MakeBstr(album_.Folder()));
    UniqueBstr templ(MakeBstr(album_.Template()));
    ASSERT_EQ(Maker()->put_FolderPath(folder.get()), S_OK);
    ASSERT_EQ(Maker()->put_PageTemplatePath(templ.get()), S_OK);
  }
  // Sorted: 1.jpg, 2.jpg, a.jpg, b.gif.
  Album album_{"b.gif", "a.jpg", "2.jpg", "1.jpg", "notes.txt"};
};

TEST_F(PageSelectionTest, NumericTextSelectsByPositionOtherTextByName) {
  EXPECT_EQ(Page(Maker(), TextVariant(u"2")), ExpectedPage(u"a.jpg", 3, 4));
  EXPECT_EQ(Page(Maker(), TextVariant(u"2.jpg")), ExpectedPage(u"2.jpg", 2, 4));
  EXPECT_EQ(Page(Maker(), TextVariant(u"b.gif")), ExpectedPage(u"b.gif", 4, 4));
  EXPECT_EQ(Page(Maker(), IntVariant(1)), ExpectedPage(u"2.jpg", 2, 4));
  // A real number has an integer reading (rounded).
  EXPECT_EQ(Page(Maker(), RealVariant(3.0)), ExpectedPage(u"b.gif", 4, 4));
}

TEST_F(PageSelectionTest, EmptyAndNullSelectorsGiveTheFirstPicture) {
  EXPECT_EQ(Page(Maker(), UniqueVariant()), ExpectedPage(u"1.jpg", 1, 4));
  EXPECT_EQ(Page(Maker(), NullVariant()), ExpectedPage(u"1.jpg", 1, 4));
  // Out of range and unknown names fall back to the first picture as well.
  EXPECT_EQ(Page(Maker(), IntVariant(99)), ExpectedPage(u"1.jpg", 1, 4));
  EXPECT_EQ(Page(Maker(), TextVariant(u"missing.jpg")), ExpectedPage(u"1.jpg", 1, 4));
}

TEST_F(PageSelectionTest, EmptyPathArgumentsClearNullOnesKeep) {
  {
    UniqueVariant selector, folder = NullVariant(), templ = NullVariant();
    UniqueBstr page;
    ASSERT_EQ(Maker()->getAlbumPage(*selector, *folder, *templ, page.put()), S_OK);
    EXPECT_EQ(GetFolder(Maker()), album_.Folder());
    EXPECT_EQ(GetTemplate(Maker()), album_.Template());
  }
  {
    UniqueVariant selector, folder = UniqueVariant(), templ = UniqueVariant();
    UniqueBstr page;
    ASSERT_EQ(Maker()->getAlbumPage(*selector, *folder, *templ, page.put()), S_OK);
    EXPECT_EQ(GetFolder(Maker()), u"");
    EXPECT_EQ(GetTemplate(Maker()), u"");
    // Nothing to list and no template: an empty, non-null page.
    ASSERT_NE(page.get(), nullptr);
    EXPECT_EQ(SysStringLen(page.get()), 0u);
  }
}

TEST_F(PageSelectionTest, PathArgumentsApplyBeforeTheRenderAndWithoutAPage) {
  Album other{"x.jpg", "y.jpg"};
  {
    UniqueVariant selector = IntVariant(1), folder = TextVariant(other.Folder()), templ = NullVariant();
    UniqueBstr page;
    ASSERT_EQ(Maker()->getAlbumPage(*selector, *folder, *templ, page.put()), S_OK);
    EXPECT_EQ(FromBstr(page.get()), ExpectedPage(u"y.jpg", 2, 2));
  }
  {
    // No page pointer: the paths change, nothing is rendered.
    UniqueVariant selector, folder = TextVariant(u"F"), templ = TextVariant(u"T");
    EXPECT_EQ(Maker()->getAlbumPage(*selector, *folder, *templ, nullptr), S_OK);
    EXPECT_EQ(GetFolder(Maker()), u"F");
    EXPECT_EQ(GetTemplate(Maker()), u"T");
  }
  {
    // A path argument with an integer converts to its text.
    UniqueVariant selector, folder = IntVariant(42), templ = NullVariant();
    EXPECT_EQ(Maker()->getAlbumPage(*selector, *folder, *templ, nullptr), S_OK);
    EXPECT_EQ(GetFolder(Maker()), u"42");
  }
}

// Engine errors, with and without a registered ProgID.
class EngineErrorTest : public AlbumMakerTest {
 protected:
  void SetUp() override {
    AlbumMakerTest::SetUp();
    UniqueBstr folder(MakeBstr(album_.Folder()));
    UniqueBstr templ(MakeBstr(MakeHugeTemplate(album_.dir.Path()).u16string()));
    ASSERT_EQ(Maker()->put_FolderPath(folder.get()), S_OK);
    ASSERT_EQ(Maker()->put_PageTemplatePath(templ.get()), S_OK);
  }
  void TearDown() override {
    RemoveProgId();
    AlbumMakerTest::TearDown();
  }

  struct Seen {
    HRESULT hr;
    bool hadInfo;
    GUID guid;
    std::u16string source, description;
    bool pageUntouched;
  };

  Seen Fail() {
    SetErrorInfo(0, nullptr);
    UniqueVariant selector, folder = NullVariant(), templ = NullVariant();
    BSTR sentinel = reinterpret_cast<BSTR>(this);
    BSTR page = sentinel;
    Seen seen{};
    seen.hr = Maker()->getAlbumPage(*selector, *folder, *templ, &page);
    seen.pageUntouched = page == sentinel;
    ComPtr<IErrorInfo> info;
    seen.hadInfo = GetErrorInfo(0, info.put()) == S_OK && info;
    if (seen.hadInfo) {
      UniqueBstr source, description;
      EXPECT_EQ(info->GetGUID(&seen.guid), S_OK);
      EXPECT_EQ(info->GetSource(source.put()), S_OK);
      EXPECT_EQ(info->GetDescription(description.put()), S_OK);
      seen.source = FromBstr(source.get());
      seen.description = FromBstr(description.get());
    }
    return seen;
  }

  Album album_{"a.jpg"};
};

TEST_F(EngineErrorTest, ErrorInformationWithoutRegisteredProgId) {
  RemoveProgId();
  const Seen seen = Fail();
  EXPECT_EQ(seen.hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(seen.pageUntouched);
  ASSERT_TRUE(seen.hadInfo);
  const GUID nullGuid{};
  EXPECT_TRUE(SameGuid(seen.guid, nullGuid));
  EXPECT_EQ(seen.source, u"");
  EXPECT_EQ(seen.description, kHugeTemplateMessage);
}

TEST_F(EngineErrorTest, ErrorInformationNamesTheRegisteredProgId) {
  RegisterProgId("Quorrel.AlbumMaker.1");
  const Seen seen = Fail();
  EXPECT_EQ(seen.hr, DISP_E_EXCEPTION);
  ASSERT_TRUE(seen.hadInfo);
  EXPECT_EQ(seen.source, u"Quorrel.AlbumMaker.1");
  EXPECT_EQ(seen.description, kHugeTemplateMessage);
  // The error is per call: a good render afterwards succeeds.
  Album good{"z.jpg"};
  UniqueBstr templ(MakeBstr(good.Template()));
  ASSERT_EQ(Maker()->put_PageTemplatePath(templ.get()), S_OK);
  EXPECT_EQ(Page(Maker(), UniqueVariant()), ExpectedPage(u"a.jpg", 1, 1));
}

TEST(ErrorInfoRecordTest, MessageBytesDecodeFromTheAnsiCodePage) {
  // 0xE9 and 0x80 in Windows-1252: e acute and the euro sign.
  const ErrorInfoRecord record = MakeErrorInfoRecord("Caf\xE9 \x80 failed. Error number: 5 (0x5)");
  EXPECT_EQ(record.description, u"Caf\u00e9 \u20ac failed. Error number: 5 (0x5)");
  const GUID nullGuid{};
  EXPECT_TRUE(SameGuid(record.interfaceGuid, nullGuid));
  EXPECT_EQ(ReportError("x"), DISP_E_EXCEPTION);
  SetErrorInfo(0, nullptr);
}

TEST_F(AlbumMakerTest, SupportsErrorInfoOnlyForItsInterface) {
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(Maker()->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kIidAlbumMaker), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
}

TEST_F(AlbumMakerTest, QueryInterfaceIdentityFromEveryPointer) {
  ComPtr<IUnknown> identity;
  ASSERT_EQ(Maker()->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
  EXPECT_EQ(identity.get(), static_cast<IUnknown*>(Maker()));

  ComPtr<IDispatch> dispatch;
  ComPtr<ISupportErrorInfo> support;
  ComPtr<IUnknown> marshal;
  ASSERT_EQ(Maker()->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  ASSERT_EQ(Maker()->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
  ASSERT_EQ(Maker()->QueryInterface(IID_IMarshal, marshal.put_void()), S_OK);
  EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(Maker()));
  EXPECT_NE(static_cast<void*>(support.get()), static_cast<void*>(Maker()));

  IUnknown* pointers[] = {Maker(), dispatch.get(), support.get()};
  for (IUnknown* p : pointers) {
    ComPtr<IUnknown> back;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, back.put_void()), S_OK);
    EXPECT_EQ(back.get(), identity.get());
    ComPtr<IAlbumMaker> again;
    ASSERT_EQ(p->QueryInterface(kIidAlbumMaker, again.put_void()), S_OK);
    EXPECT_EQ(again.get(), Maker());
  }
  // The marshaler belongs to the object: its IUnknown is the object's.
  ComPtr<IUnknown> fromMarshal;
  ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, fromMarshal.put_void()), S_OK);
  EXPECT_EQ(fromMarshal.get(), identity.get());

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(Maker()->QueryInterface(kOuterOnlyIid, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Maker()->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(AlbumMakerTest, ReferenceCountsRiseAndFallByOne) {
  EXPECT_EQ(Maker()->AddRef(), 2u);
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(Maker()->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
  EXPECT_EQ(support->AddRef(), 4u);
  EXPECT_EQ(support->Release(), 3u);
  support.reset();
  EXPECT_EQ(Maker()->Release(), 1u);
  // The last release destroys the object and drops its module lock.
  const LONG locks = LockCount(Module());
  EXPECT_EQ(maker_.detach()->Release(), 0u);
  EXPECT_EQ(LockCount(Module()), locks - 1);
}

TEST_F(AlbumMakerTest, NullArgumentsAnswerEPointer) {
  EXPECT_EQ(Maker()->GetTypeInfoCount(nullptr), E_POINTER);
  UINT count = 0;
  EXPECT_EQ(Maker()->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Maker()->GetTypeInfo(0, 0, nullptr), E_POINTER);
  DISPID id = 0;
  EXPECT_EQ(Maker()->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_POINTER);
  LPOLESTR name = const_cast<LPOLESTR>(AsOle(u"FolderPath"));
  EXPECT_EQ(Maker()->GetIDsOfNames(IID_NULL, &name, 1, 0, nullptr), E_POINTER);
}

// A C client calls through the table of function pointers and may pass a
// null IID, which a C++ caller cannot express.
TEST_F(AlbumMakerTest, NullIidFromACallerAnswersEPointer) {
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(Maker()->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
  using SupportsFn = HRESULT(STDMETHODCALLTYPE*)(ISupportErrorInfo*, const IID*);
  void** table = *reinterpret_cast<void***>(support.get());
  SupportsFn supports = nullptr;
  std::memcpy(&supports, &table[3], sizeof supports);  // after the three IUnknown slots
  EXPECT_EQ(supports(support.get(), &kIidAlbumMaker), S_OK);
  EXPECT_EQ(supports(support.get(), nullptr), E_POINTER);
}

}  // namespace
}  // namespace albummaker::server::testing
