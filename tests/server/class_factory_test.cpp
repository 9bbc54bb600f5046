// The exported functions, the cached class object, the creation sequences
// (plain and aggregated) and module tear-down.
#include "server_test_support.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace albummaker::server::testing {
namespace {

// Restarts the module as a process detach and attach would.
void RestartModule() {
  ModuleTerm();
  ModuleInit(AlbumObjectMap(), nullptr);
}

using ClassFactoryTest = ServerTest;

TEST_F(ClassFactoryTest, ClassObjectIsCachedAndCountsModuleLocks) {
  RestartModule();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  ComPtr<IClassFactory> first, second;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, first.put_void()), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IUnknown, second.put_void()), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(first.get()), static_cast<IUnknown*>(second.get()));
  // Further outside references take no further lock.
  EXPECT_EQ(LockCount(Module()), 1);
  second.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  first.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  // Still cached: the map's reference.
  EXPECT_NE(AlbumObjectMap()[0].classObject.load(), nullptr);
}

TEST_F(ClassFactoryTest, UnknownClassAndMissingInterfaces) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kIidAlbumMaker, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_NE(AlbumObjectMap()[0].classObject.load(), nullptr);
}

TEST_F(ClassFactoryTest, LockServerHoldsTheModule) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, LiveObjectsHoldTheModule) {
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(CreateMaker(maker.put()), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(LockCount(Module()), 1);
  // The object's only reference is the one handed out.
  EXPECT_EQ(maker.detach()->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, CreateInstanceFailuresLeaveNothingBehind) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()), S_OK);
  const LONG locks = LockCount(Module());
  EXPECT_EQ(factory->CreateInstance(nullptr, kIidAlbumMaker, nullptr), E_POINTER);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, kOuterOnlyIid, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(LockCount(Module()), locks);
  TestOuter outer;
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, kIidAlbumMaker, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(LockCount(Module()), locks);
  EXPECT_EQ(outer.refs, 1);
}

TEST_F(ClassFactoryTest, ConcurrentFirstRequestsCreateOneClassObject) {
  for (int round = 0; round < 20; ++round) {
    RestartModule();
    constexpr int kThreads = 8;
    std::vector<ComPtr<IUnknown>> seen(kThreads);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load()) std::this_thread::yield();
        void* out = nullptr;
        if (DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, &out) == S_OK) {
          seen[static_cast<size_t>(t)].reset(static_cast<IUnknown*>(static_cast<IClassFactory*>(out)));
        }
      });
    }
    go.store(true);
    for (auto& thread : threads) thread.join();
    IUnknown* cached = AlbumObjectMap()[0].classObject.load();
    ASSERT_NE(cached, nullptr);
    for (const auto& p : seen) EXPECT_EQ(p.get(), cached);
    EXPECT_EQ(LockCount(Module()), 1);
    seen.clear();
    EXPECT_EQ(LockCount(Module()), 0);
  }
}

struct Trace {
  std::string order;
};
void MarkA(void* p) { static_cast<Trace*>(p)->order += 'A'; }
void MarkB(void* p) { static_cast<Trace*>(p)->order += 'B'; }

TEST_F(ClassFactoryTest, ProcessDetachReleasesClassObjectAndRunsCleanupsNewestFirst) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.put_void()), S_OK);
  Trace trace;
  ASSERT_EQ(AddCleanup(Module(), &MarkA, &trace), S_OK);
  ASSERT_EQ(AddCleanup(Module(), &MarkB, &trace), S_OK);
  ModuleTerm();
  EXPECT_EQ(trace.order, "BA");
  EXPECT_EQ(AlbumObjectMap()[0].classObject.load(), nullptr);
  // Only our reference is left: the map's was released.
  EXPECT_EQ(factory->AddRef(), 2u);
  EXPECT_EQ(factory->Release(), 1u);
  factory.reset();
  ModuleInit(AlbumObjectMap(), nullptr);
  EXPECT_EQ(trace.order, "BA");
  EXPECT_EQ(CleanupCount(Module()), 0);
}

// Aggregation ---------------------------------------------------------------

class AggregationTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory_.put_void()), S_OK);
    ASSERT_EQ(factory_->CreateInstance(&outer_, IID_IUnknown, reinterpret_cast<void**>(&outer_.inner)), S_OK);
    ASSERT_NE(outer_.inner, nullptr);
  }
  void TearDown() override {
    if (outer_.inner != nullptr) {
      EXPECT_EQ(outer_.inner->Release(), 0u);
    }
    outer_.inner = nullptr;
    EXPECT_EQ(outer_.refs, 1) << "references to the outer object left behind";
    factory_.reset();
    ServerTest::TearDown();
  }

  ComPtr<IClassFactory> factory_;
  TestOuter outer_;
};

TEST_F(AggregationTest, InnerUnknownIsItsOwnIdentityAndHandsOutContainedPointers) {
  ComPtr<IUnknown> innerAgain;
  ASSERT_EQ(outer_.inner->QueryInterface(IID_IUnknown, innerAgain.put_void()), S_OK);
  EXPECT_EQ(innerAgain.get(), outer_.inner);
  innerAgain.reset();

  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(outer_.inner->QueryInterface(kIidAlbumMaker, maker.put_void()), S_OK);
  EXPECT_NE(static_cast<IUnknown*>(maker.get()), outer_.inner);
  // That reference went to the outer object.
  EXPECT_EQ(outer_.refs, 2);
  EXPECT_EQ(outer_.queries, 0);
  maker.reset();
  EXPECT_EQ(outer_.refs, 1);
  EXPECT_EQ(outer_.inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(AggregationTest, QueriesThroughContainedPointersReachTheOuterObjectFirst) {
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(outer_.inner->QueryInterface(kIidAlbumMaker, maker.put_void()), S_OK);

  ComPtr<IUnknown> identity;
  ASSERT_EQ(maker->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
  EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer_));
  EXPECT_EQ(outer_.queries, 1);

  ComPtr<IUnknown> outerOnly;
  ASSERT_EQ(maker->QueryInterface(kOuterOnlyIid, outerOnly.put_void()), S_OK);
  EXPECT_EQ(outerOnly.get(), static_cast<IUnknown*>(&outer_));
  EXPECT_EQ(outer_.queries, 2);

  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(maker->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
  EXPECT_EQ(outer_.queries, 3);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kIidAlbumMaker), S_OK);

  // AddRef and Release of contained pointers are the outer object's.
  const LONG before = outer_.refs;
  EXPECT_EQ(maker->AddRef(), static_cast<ULONG>(before + 1));
  EXPECT_EQ(maker->Release(), static_cast<ULONG>(before));

  // When the outer object refuses, the contained map still answers.
  outer_.delegate = false;
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(maker->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(maker.get()));
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(maker->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(AggregationTest, ContainedObjectWorksAndHoldsOneModuleLock) {
  EXPECT_GE(LockCount(Module()), 2);  // the class object and the aggregate
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(outer_.inner->QueryInterface(kIidAlbumMaker, maker.put_void()), S_OK);
  Album album{"p.jpg", "q.jpg"};
  UniqueBstr folder(MakeBstr(album.Folder())), templ(MakeBstr(album.Template()));
  ASSERT_EQ(maker->put_FolderPath(folder.get()), S_OK);
  ASSERT_EQ(maker->put_PageTemplatePath(templ.get()), S_OK);
  EXPECT_EQ(Page(maker.get(), TextVariant(u"q.jpg")), ExpectedPage(u"q.jpg", 2, 2));
  // The marshaler is aggregated with the outer object as its controller.
  ComPtr<IUnknown> marshal;
  ASSERT_EQ(outer_.inner->QueryInterface(IID_IMarshal, marshal.put_void()), S_OK);
  ComPtr<IUnknown> viaMarshal;
  ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, viaMarshal.put_void()), S_OK);
  EXPECT_EQ(viaMarshal.get(), static_cast<IUnknown*>(&outer_));
}

}  // namespace
}  // namespace albummaker::server::testing
