// Many threads on one object at once: renders overlapping each other and
// overlapping path changes.
#include "server_test_support.h"

#include <atomic>
#include <thread>
#include <vector>

namespace albummaker::server::testing {
namespace {

using ConcurrencyTest = ServerTest;

TEST_F(ConcurrencyTest, ManyThreadsRenderFromOneObject) {
  Album album{"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(CreateMaker(maker.put()), S_OK);
  UniqueBstr folder(MakeBstr(album.Folder())), templ(MakeBstr(album.Template()));
  ASSERT_EQ(maker->put_FolderPath(folder.get()), S_OK);
  ASSERT_EQ(maker->put_PageTemplatePath(templ.get()), S_OK);

  const char16_t* names[] = {u"a.jpg", u"b.jpg", u"c.jpg", u"d.jpg"};
  constexpr int kThreads = 8;
  constexpr int kRounds = 40;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const int pick = (t + i) % 4;
        UniqueVariant selector = (i % 2 == 0) ? IntVariant(pick) : TextVariant(names[pick]);
        UniqueVariant none1 = NullVariant(), none2 = NullVariant();
        UniqueBstr page;
        if (maker->getAlbumPage(*selector, *none1, *none2, page.put()) != S_OK ||
            FromBstr(page.get()) != ExpectedPage(names[pick], pick + 1, 4)) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ConcurrencyTest, PathChangesMayOverlapRenders) {
  Album first{"a.jpg", "b.jpg"};
  Album second{"x.jpg", "y.jpg", "z.jpg"};
  ComPtr<IAlbumMaker> maker;
  ASSERT_EQ(CreateMaker(maker.put()), S_OK);
  UniqueBstr templ(MakeBstr(first.Template()));
  ASSERT_EQ(maker->put_PageTemplatePath(templ.get()), S_OK);

  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::thread writer([&] {
    UniqueBstr a(MakeBstr(first.Folder())), b(MakeBstr(second.Folder()));
    for (int i = 0; i < 200; ++i) maker->put_FolderPath(i % 2 == 0 ? a.get() : b.get());
    stop.store(true);
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      do {
        const std::u16string page = Page(maker.get(), IntVariant(0));
        // Always a whole page of one album or the other, or the empty page
        // before the first put.
        if (!page.empty() && page != ExpectedPage(u"a.jpg", 1, 2) && page != ExpectedPage(u"x.jpg", 1, 3)) ++wrong;
        const std::u16string folder = GetFolder(maker.get());
        if (!folder.empty() && folder != first.Folder() && folder != second.Folder()) ++wrong;
      } while (!stop.load());
    });
  }
  writer.join();
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace albummaker::server::testing
