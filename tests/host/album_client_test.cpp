#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "linked_album_client.h"
#include "temp_folder.h"

namespace albummaker::host {
namespace {

using albummaker::testing::TempFolder;

class AlbumClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "7.jpg"}) album_.Write(name);
    templatePath_ = templates_.Write("t.html", "^tq_CurrentFileName^");
    std::u16string error;
    client_ = CreateLinkedAlbumClient(error);
    ASSERT_TRUE(client_) << std::string(error.begin(), error.end());
    client_->SetFolderPath(album_.Wide());
    client_->SetPageTemplatePath(templatePath_.u16string());
  }

  std::u16string Page(const std::u16string& text) {
    const PageResult r = client_->PageByText(text);
    EXPECT_TRUE(r.ok);
    return r.page;
  }

  TempFolder album_;
  TempFolder templates_;
  std::filesystem::path templatePath_;
  std::unique_ptr<AlbumClient> client_;
};

TEST_F(AlbumClientTest, TextThatReadsAsAnIntegerSelectsByPosition) {
  // Sorted: 7.jpg, a.jpg, b.jpg, c.jpg
  EXPECT_EQ(Page(u"1"), u"a.jpg");
  EXPECT_EQ(Page(u"+2"), u"b.jpg");
  EXPECT_EQ(Page(u"003"), u"c.jpg");
  EXPECT_EQ(Page(u"-1"), u"7.jpg");
  EXPECT_EQ(Page(u"2147483647"), u"7.jpg");
  EXPECT_EQ(Page(u"-2147483648"), u"7.jpg");
}

TEST_F(AlbumClientTest, AnyOtherTextSelectsByName) {
  EXPECT_EQ(Page(u"B.JPG"), u"b.jpg");
  EXPECT_EQ(Page(u"c.jpg"), u"c.jpg");
  EXPECT_EQ(Page(u"2147483648"), u"7.jpg");  // too large for 32 bits
  EXPECT_EQ(Page(u"+"), u"7.jpg");
  EXPECT_EQ(Page(u""), u"7.jpg");
  const PageResult byName = client_->PageByText(u"C.Jpg");
  ASSERT_TRUE(byName.ok);
  EXPECT_EQ(byName.page, u"c.jpg");
  EXPECT_EQ(client_->PageByText(u"missing.jpg").page, u"7.jpg");
  EXPECT_EQ(client_->PageByIndex(2).page, u"b.jpg");
}

TEST_F(AlbumClientTest, EngineErrorsComeBackAsText) {
  const auto big = templates_.Write("big.html", "x");
  std::error_code ec;
  std::filesystem::resize_file(big, 0x100000000ull, ec);
  if (ec) GTEST_SKIP() << "no sparse files here";
  client_->SetPageTemplatePath(big.u16string());
  const PageResult r = client_->PageByIndex(0);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.page, u"");
  EXPECT_EQ(r.error, u"No memory available to serve the request. Error number: 2147942414 (0x8007000E)");
}

TEST_F(AlbumClientTest, ManyThreadsWhilePathsChange) {
  TempFolder other;
  other.Write("z.gif");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        const PageResult r = client_->PageByText(t % 2 ? u"b.jpg" : u"0");
        if (!r.ok || (r.page != u"b.jpg" && r.page != u"7.jpg" && r.page != u"z.gif")) ++bad;
      }
    });
  }
  std::thread writer([&] {
    for (int i = 0; i < 40 && !stop; ++i) {
      client_->SetFolderPath(i % 2 ? other.Wide() : album_.Wide());
      std::this_thread::yield();
    }
  });
  for (std::thread& r : readers) r.join();
  stop = true;
  writer.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace albummaker::host
