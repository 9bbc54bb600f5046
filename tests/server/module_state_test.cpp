// Module state on instances of its own, apart from the process's one.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "module_state.h"

namespace albummaker::server {
namespace {

struct Trace {
  std::string order;
};

void Record(void* argument, char tag) { static_cast<Trace*>(argument)->order += tag; }
void ActionA(void* argument) { Record(argument, 'A'); }
void ActionB(void* argument) { Record(argument, 'B'); }
void ActionC(void* argument) { Record(argument, 'C'); }

TEST(ModuleStateTest, StartsUnlockedWithNoCleanupsAndCountsLocks) {
  ModuleState state{};
  StateInit(state, nullptr, nullptr);
  EXPECT_EQ(LockCount(state), 0);
  EXPECT_EQ(CleanupCount(state), 0);
  LockModule(state);
  LockModule(state);
  UnlockModule(state);
  EXPECT_EQ(LockCount(state), 1);
  UnlockModule(state);
  EXPECT_EQ(LockCount(state), 0);
  StateTerm(state);
}

TEST(ModuleStateTest, CleanupsRunNewestFirstEachOnceWithItsArgument) {
  Trace trace;
  void* argument = &trace;
  ModuleState state{};
  StateInit(state, nullptr, nullptr);
  ASSERT_EQ(AddCleanup(state, &ActionA, argument), S_OK);
  ASSERT_EQ(AddCleanup(state, &ActionB, argument), S_OK);
  ASSERT_EQ(AddCleanup(state, &ActionC, argument), S_OK);
  // The same action twice runs twice.
  ASSERT_EQ(AddCleanup(state, &ActionA, argument), S_OK);
  EXPECT_EQ(CleanupCount(state), 4);
  EXPECT_EQ(trace.order, "");
  StateTerm(state);
  EXPECT_EQ(trace.order, "ACBA");
  EXPECT_EQ(state.cleanups, nullptr);
}

TEST(ModuleStateTest, DistinctArgumentsReachTheirActions) {
  struct Slot {
    int value = 0;
  };
  Slot first, second;
  auto bump = [](void* p) { static_cast<Slot*>(p)->value += 1; };
  ModuleState state{};
  StateInit(state, nullptr, nullptr);
  AddCleanup(state, bump, &first);
  AddCleanup(state, bump, &second);
  AddCleanup(state, bump, &second);
  StateTerm(state);
  EXPECT_EQ(first.value, 1);
  EXPECT_EQ(second.value, 2);
}

TEST(ModuleStateTest, ConcurrentLocksAndCleanupsLoseNothing) {
  ModuleState state{};
  StateInit(state, nullptr, nullptr);
  std::atomic<int> ran{0};
  auto count = [](void* p) { static_cast<std::atomic<int>*>(p)->fetch_add(1); };
  constexpr int kThreads = 8;
  constexpr int kRounds = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        LockModule(state);
        if (i % 50 == 0) AddCleanup(state, count, &ran);
        UnlockModule(state);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(LockCount(state), 0);
  EXPECT_EQ(CleanupCount(state), kThreads * (kRounds / 50));
  StateTerm(state);
  EXPECT_EQ(ran.load(), kThreads * (kRounds / 50));
}

TEST(ModuleStateTest, LocksAreReentrant) {
  ModuleState state{};
  StateInit(state, nullptr, nullptr);
  {
    ScopedCriticalSection outer(state.typeInfoAndCleanupLock);
    // AddCleanup takes the same lock again on the same thread.
    EXPECT_EQ(AddCleanup(
                  state, [](void*) {}, nullptr),
              S_OK);
    ScopedCriticalSection inner(state.objectMapLock);
    ScopedCriticalSection again(state.objectMapLock);
  }
  StateTerm(state);
}

}  // namespace
}  // namespace albummaker::server
