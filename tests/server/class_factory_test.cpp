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
  ComRef<IClassFactory> first, second;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, first.PutVoid()), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IUnknown, second.PutVoid()), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(first.Get()), static_cast<IUnknown*>(second.Get()));
  // Further outside references take no further lock.
  EXPECT_EQ(LockCount(Module()), 1);
  second.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  first.Reset();
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
  ComRef<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.PutVoid()), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.PutVoid()), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, LiveObjectsHoldTheModule) {
  ComRef<IAlbumMaker> maker;
  ASSERT_EQ(CreateMaker(maker.Put()), S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(LockCount(Module()), 1);
  // The object's only reference is the one handed out.
  EXPECT_EQ(maker.Detach()->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, CreateInstanceFailuresLeaveNothingBehind) {
  ComRef<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.PutVoid()), S_OK);
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
    std::vector<IUnknown*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load()) std::this_thread::yield();
        void* out = nullptr;
        if (DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, &out) == S_OK) {
          seen[static_cast<size_t>(t)] = static_cast<IUnknown*>(static_cast<IClassFactory*>(out));
        }
      });
    }
    go.store(true);
    for (auto& thread : threads) thread.join();
    IUnknown* cached = AlbumObjectMap()[0].classObject.load();
    ASSERT_NE(cached, nullptr);
    for (IUnknown* p : seen) EXPECT_EQ(p, cached);
    EXPECT_EQ(LockCount(Module()), 1);
    for (IUnknown* p : seen) {
      if (p != nullptr) p->Release();
    }
    EXPECT_EQ(LockCount(Module()), 0);
  }
}

struct Trace {
  std::string order;
};
void MarkA(void* p) { static_cast<Trace*>(p)->order += 'A'; }
void MarkB(void* p) { static_cast<Trace*>(p)->order += 'B'; }

TEST_F(ClassFactoryTest, ProcessDetachReleasesClassObjectAndRunsCleanupsNewestFirst) {
  ComRef<IClassFactory> factory;
  ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory.PutVoid()), S_OK);
  Trace trace;
  ASSERT_EQ(AddCleanup(Module(), &MarkA, &trace), S_OK);
  ASSERT_EQ(AddCleanup(Module(), &MarkB, &trace), S_OK);
  ModuleTerm();
  EXPECT_EQ(trace.order, "BA");
  EXPECT_EQ(AlbumObjectMap()[0].classObject.load(), nullptr);
  // Only our reference is left: the map's was released.
  EXPECT_EQ(factory->AddRef(), 2u);
  EXPECT_EQ(factory->Release(), 1u);
  factory.Reset();
  ModuleInit(AlbumObjectMap(), nullptr);
  EXPECT_EQ(trace.order, "BA");
  EXPECT_EQ(CleanupCount(Module()), 0);
}

// Aggregation ---------------------------------------------------------------

class AggregationTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(DllGetClassObject(kClsidAlbumMaker, IID_IClassFactory, factory_.PutVoid()), S_OK);
    ASSERT_EQ(factory_->CreateInstance(&outer_, IID_IUnknown, reinterpret_cast<void**>(&outer_.inner)), S_OK);
    ASSERT_NE(outer_.inner, nullptr);
  }
  void TearDown() override {
    if (outer_.inner != nullptr) {
      EXPECT_EQ(outer_.inner->Release(), 0u);
    }
    outer_.inner = nullptr;
    EXPECT_EQ(outer_.refs, 1) << "references to the outer object left behind";
    factory_.Reset();
    ServerTest::TearDown();
  }

  ComRef<IClassFactory> factory_;
  TestOuter outer_;
};

TEST_F(AggregationTest, InnerUnknownIsItsOwnIdentityAndHandsOutContainedPointers) {
  ComRef<IUnknown> innerAgain;
  ASSERT_EQ(outer_.inner->QueryInterface(IID_IUnknown, innerAgain.PutVoid()), S_OK);
  EXPECT_EQ(innerAgain.Get(), outer_.inner);
  innerAgain.Reset();

  ComRef<IAlbumMaker> maker;
  ASSERT_EQ(outer_.inner->QueryInterface(kIidAlbumMaker, maker.PutVoid()), S_OK);
  EXPECT_NE(static_cast<IUnknown*>(maker.Get()), outer_.inner);
  // That reference went to the outer object.
  EXPECT_EQ(outer_.refs, 2);
  EXPECT_EQ(outer_.queries, 0);
  maker.Reset();
  EXPECT_EQ(outer_.refs, 1);
  EXPECT_EQ(outer_.inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(AggregationTest, QueriesThroughContainedPointersReachTheOuterObjectFirst) {
  ComRef<IAlbumMaker> maker;
  ASSERT_EQ(outer_.inner->QueryInterface(kIidAlbumMaker, maker.PutVoid()), S_OK);

  ComRef<IUnknown> identity;
  ASSERT_EQ(maker->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer_));
  EXPECT_EQ(outer_.queries, 1);

  ComRef<IUnknown> outerOnly;
  ASSERT_EQ(maker->QueryInterface(kOuterOnlyIid, outerOnly.PutVoid()), S_OK);
  EXPECT_EQ(outerOnly.Get(), static_cast<IUnknown*>(&outer_));
  EXPECT_EQ(outer_.queries, 2);

  ComRef<ISupportErrorInfo> support;
  ASSERT_EQ(maker->QueryInterface(IID_ISupportErrorInfo, support.PutVoid()), S_OK);
  EXPECT_EQ(outer_.queries, 3);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kIidAlbumMaker), S_OK);

  // AddRef and Release of contained pointers are the outer object's.
  const LONG before = outer_.refs;
  EXPECT_EQ(maker->AddRef(), static_cast<ULONG>(before + 1));
  EXPECT_EQ(maker->Release(), static_cast<ULONG>(before));

  // When the outer object refuses, the contained map still answers.
  outer_.delegate = false;
  ComRef<IDispatch> dispatch;
  ASSERT_EQ(maker->QueryInterface(IID_IDispatch, dispatch.PutVoid()), S_OK);
  EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(maker.Get()));
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(maker->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(AggregationTest, ContainedObjectWorksAndHoldsOneModuleLock) {
  EXPECT_GE(LockCount(Module()), 2);  // the class object and the aggregate
  ComRef<IAlbumMaker> maker;
  ASSERT_EQ(outer_.inner->QueryInterface(kIidAlbumMaker, maker.PutVoid()), S_OK);
  Album album{"p.jpg", "q.jpg"};
  ScopedBstr folder(MakeBstr(album.Folder())), templ(MakeBstr(album.Template()));
  ASSERT_EQ(maker->put_FolderPath(folder.Get()), S_OK);
  ASSERT_EQ(maker->put_PageTemplatePath(templ.Get()), S_OK);
  EXPECT_EQ(Page(maker.Get(), Var::Text(u"q.jpg")), ExpectedPage(u"q.jpg", 2, 2));
  // The marshaler is aggregated with the outer object as its controller.
  ComRef<IUnknown> marshal;
  ASSERT_EQ(outer_.inner->QueryInterface(IID_IMarshal, marshal.PutVoid()), S_OK);
  ComRef<IUnknown> viaMarshal;
  ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, viaMarshal.PutVoid()), S_OK);
  EXPECT_EQ(viaMarshal.Get(), static_cast<IUnknown*>(&outer_));
}

}  // namespace
}  // namespace albummaker::server::testing
