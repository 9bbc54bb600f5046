// Many clients at once, and clients that try to exhaust the server.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "serve_harness.h"

namespace serve_test {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kPictures = 20;
constexpr int kThreads = 4;

class LoadedServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path folder = dir_.Path() / "album";
    fs::create_directory(folder);
    for (int i = 0; i < kPictures; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "pic %02d.jpg", i);
      WriteFile(folder / name, std::string(1000 + i, 'p'));
    }
    WriteFile(dir_.Path() / "page.html", "<p>^tq_CurrentFileName^ ^tq_FileOrdinalNumber^/^tq_TotalFilesCount^</p>");
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"--folder", folder.string(), "--template",
                                                                       (dir_.Path() / "page.html").string(),
                                                                       "--threads", std::to_string(kThreads)});
    ASSERT_TRUE(server_->Started()) << server_->ErrorOutput();
  }

  static std::string ExpectedPage(int i) {
    char page[64];
    std::snprintf(page, sizeof page, "<p>pic %02d.jpg %d/%d</p>", i, i + 1, kPictures);
    return page;
  }

  // A client that was not part of the abuse still gets its page.
  void ExpectServedPromptly() {
    Connection c(server_->Port(), 3s);  // below the idle time-outs
    ASSERT_TRUE(c.Connected());
    ASSERT_TRUE(c.Send("GET /?file=2 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const Response r = c.Read();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, ExpectedPage(2));
  }

  // Every server ends cleanly: a sanitizer finding in it fails the test.
  void TearDown() override {
    if (server_) {
      EXPECT_EQ(server_->Stop(), std::optional<int>(0)) << server_->ErrorOutput();
    }
  }

  TempFolder dir_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(LoadedServer, ConcurrentClientsAllGetTheirOwnPage) {
  constexpr int kClients = 8;
  constexpr int kRequests = 200;
  std::atomic<int> wrong{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < kClients; ++t) {
    clients.emplace_back([&, t] {
      std::unique_ptr<Connection> c;
      for (int i = 0; i < kRequests; ++i) {
        const int picture = (t * 7 + i) % kPictures;
        const std::string target =
            i % 2 ? "/?file=" + std::to_string(picture)
                  : "/?file=pic+" + std::string(picture < 10 ? "0" : "") + std::to_string(picture) + "%2Ejpg";
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
        const bool reused = c != nullptr;
        if (!c) c = std::make_unique<Connection>(server_->Port());
        Response r;
        if (c->Send(request)) r = c->Read();
        if (r.status == 0 && reused) {
          // The server may close an idle kept-alive connection just
          // as a request goes out; a client then retries once on a
          // new connection, as HTTP allows for a GET.
          c = std::make_unique<Connection>(server_->Port());
          if (c->Send(request)) r = c->Read();
        }
        if (r.status != 200) {
          ++failed;
          c.reset();
          continue;
        }
        if (r.body != ExpectedPage(picture)) ++wrong;
        // The server may close a kept-alive connection; start a new one then.
        if (r.Header("connection") == "close") c.reset();
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(failed.load(), 0);
}

TEST_F(LoadedServer, HugeChunkedAndAnnouncedBodiesAreRefusedUnread) {
  const long before = server_->ResidentKiB();
  const std::string chunk = [] {
    const size_t size = 1 << 20;
    char head[32];
    std::snprintf(head, sizeof head, "%zx\r\n", size);
    return std::string(head) + std::string(size, 'b') + "\r\n";
  }();
  // A transfer coding is refused as a framing (400), a method other than
  // GET or HEAD as such (405).
  for (const auto& [head, status] : std::vector<std::pair<std::string, int>>{
           {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
           {"GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
           {"PUT / HTTP/1.1\r\nHost: x\r\nContent-Length: 419430400\r\n\r\n", 405},
           {"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 419430400\r\n\r\n", 413},
       }) {
    Connection c(server_->Port());
    // The start of the body; the rest follows the answer.
    ASSERT_TRUE(c.Send(head + "400\r\n" + std::string(1024, 'b') + "\r\n"));
    const Response r = c.Read();
    EXPECT_EQ(r.status, status) << head;
    // Offer 400 MiB; the server must stop taking it long before that.
    size_t offered = 0;
    while (offered < (400u << 20) && c.Send(chunk)) offered += chunk.size();
    EXPECT_LT(offered, 64u << 20) << head;
    ExpectServedPromptly();
  }
  const long after = server_->ResidentKiB();
  EXPECT_LT(after - before, 32 * 1024) << before << " KiB before, " << after << " KiB after";
}

TEST_F(LoadedServer, IdleConnectionsBeyondTheWorkersDoNotStarveOthers) {
  std::vector<std::unique_ptr<Connection>> idle;
  // Kept-alive connections that went quiet after one request...
  for (int i = 0; i < kThreads * 3; ++i) {
    auto c = std::make_unique<Connection>(server_->Port());
    ASSERT_TRUE(c->Send("GET /?file=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_EQ(c->Read().status, 200);
    idle.push_back(std::move(c));
  }
  ExpectServedPromptly();
  // ...and connections that never say anything.
  for (int i = 0; i < kThreads * 3; ++i) {
    idle.push_back(std::make_unique<Connection>(server_->Port()));
    ASSERT_TRUE(idle.back()->Connected());
  }
  for (int round = 0; round < 3; ++round) ExpectServedPromptly();
}

TEST_F(LoadedServer, HeaderFloodsAndEndlessRequestLinesAreCutOff) {
  const long before = server_->ResidentKiB();
  const std::string lines = [] {
    std::string s;
    while (s.size() < (1 << 20)) s += "X-Flood: " + std::string(100, 'h') + "\r\n";
    return s;
  }();
  const std::string longLine(1 << 20, 'a');
  for (const auto& [head, filler] : std::vector<std::pair<std::string, std::string>>{
           {"GET / HTTP/1.1\r\nHost: x\r\n", lines},
           {"GET /", longLine},
           {"GET / HTTP/1.1\r\nX-Long: ", longLine},
       }) {
    Connection c(server_->Port());
    size_t offered = 0;
    bool open = c.Send(head);
    while (open && offered < (200u << 20)) {
      open = c.Send(filler);
      if (open) offered += filler.size();
    }
    EXPECT_LT(offered, 32u << 20);
    ExpectServedPromptly();
  }
  const long after = server_->ResidentKiB();
  EXPECT_LT(after - before, 32 * 1024) << before << " KiB before, " << after << " KiB after";
}

}  // namespace
}  // namespace serve_test
