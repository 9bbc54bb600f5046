// The server against clients that bend HTTP: framing tricks, byte ranges,
// slow readers and writers, more connections than it takes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <filesystem>
#include <thread>

#include "serve_harness.h"

namespace serve_test {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr size_t kPictureSize = 4723;

std::string PictureBytes() {
  std::string bytes(kPictureSize, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 251);
  return bytes;
}

class HardenedServer : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.Path() / "album";
    fs::create_directory(folder_);
    WriteFile(folder_ / "a.jpg", PictureBytes());
    WriteFile(folder_ / "b.jpg", "second");
    templatePath_ = dir_.Path() / "page.html";
    WriteFile(templatePath_, "<p>^tq_CurrentFileName^ ^tq_FileOrdinalNumber^</p>");
  }

  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--folder", folder_.string(), "--template", templatePath_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    server_ = std::make_unique<ServerProcess>(args);
    ASSERT_TRUE(server_->Started()) << server_->ErrorOutput();
  }

  int Port() const { return server_->Port(); }

  // One request on a fresh connection: its response, and whether the
  // server then closed the connection without sending anything more.
  std::pair<Response, bool> Exchange(const std::string& request, bool head = false) {
    Connection c(Port(), 5s);
    if (!c.Send(request)) return {};
    Response r = c.Read(head);
    return {r, c.PeerClosed()};
  }

  // A fresh client gets the second page within `timeout`.
  void ExpectServed(std::chrono::milliseconds timeout = 3s) {
    Connection c(Port(), timeout);
    ASSERT_TRUE(c.Connected());
    ASSERT_TRUE(c.Send("GET /?file=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const Response r = c.Read();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "<p>b.jpg 2</p>");
  }

  void TearDown() override {
    if (server_) {
      EXPECT_EQ(server_->Stop(), std::optional<int>(0)) << server_->ErrorOutput();
    }
  }

  TempFolder dir_;
  fs::path folder_;
  fs::path templatePath_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(HardenedServer, AmbiguousFramingIsRefusedAndTheConnectionClosed) {
  Start();
  const std::string kFollower = "GET /?file=1 HTTP/1.1\r\nHost: x\r\n\r\n";
  for (const std::string& head : {
           // A second Content-Length, even one that agrees.
           std::string("GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 60\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 0\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0, 0\r\n\r\n"),
           // Transfer codings, plain or dressed up.
           std::string("GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding : chunked\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: identity\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding:\tchunked\r\n\r\n"),
           // A field folded over two lines, and malformed names.
           std::string("GET / HTTP/1.1\r\nHost: x\r\nX-Note: one\r\n two\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nX-Note: one\r\n\ttwo\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nBad Name: x\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\n: empty\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nNo-Colon\r\n\r\n"),
           // HTTP/1.1 needs exactly one Host.
           std::string("GET / HTTP/1.1\r\n\r\n"),
           std::string("GET / HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n"),
           // Targets that are no path.
           std::string("GET * HTTP/1.1\r\nHost: x\r\n\r\n"),
           std::string("GET example.org:80 HTTP/1.1\r\nHost: x\r\n\r\n"),
       }) {
    // Whatever follows on the connection must not be answered as well.
    const auto [r, closed] = Exchange(head + kFollower);
    EXPECT_EQ(r.status, 400) << head;
    EXPECT_TRUE(closed) << head;
    EXPECT_EQ(r.Header("connection"), "close") << head;
  }
  // Unlike HTTP/1.0 without Host, and an absolute target, which are fine.
  EXPECT_EQ(Exchange("GET /?file=1 HTTP/1.0\r\n\r\n").first.body, "<p>b.jpg 2</p>");
  EXPECT_EQ(
      Exchange("GET http://127.0.0.1/?file=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n").first.body,
      "<p>b.jpg 2</p>");
}

TEST_F(HardenedServer, ExpectIsRefusedWithNothingServed) {
  Start();
  const auto [r, closed] =
      Exchange("GET /?file=1 HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(r.status, 417);
  EXPECT_EQ(r.body.find("b.jpg"), std::string::npos);
  EXPECT_TRUE(closed);
  ASSERT_EQ(server_->Stop(), std::optional<int>(0));
  const std::string log = server_->ErrorOutput();
  EXPECT_NE(log.find("\"GET /?file=1 HTTP/1.1\" 417 "), std::string::npos) << log;
  EXPECT_EQ(log.find("\" 200 "), std::string::npos) << log;
}

TEST_F(HardenedServer, OversizedHeadsAnswer414Or431) {
  Start();
  const auto [line, lineClosed] = Exchange("GET /" + std::string(100 * 1024, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(line.status, 414);
  EXPECT_TRUE(lineClosed);
  const auto [fields, fieldsClosed] =
      Exchange("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20 * 1024, 'h') + "\r\n\r\n");
  EXPECT_EQ(fields.status, 431);
  EXPECT_TRUE(fieldsClosed);
  // A head of just under the limit is fine.
  const std::string filler(16 * 1024 - 200, 'f');
  EXPECT_EQ(
      Exchange("GET /?file=1 HTTP/1.1\r\nHost: x\r\nX-Fill: " + filler + "\r\nConnection: close\r\n\r\n").first.status,
      200);
}

TEST_F(HardenedServer, RefusalsCarryOneConnectionFieldAndOnlyFixedText) {
  Start();
  const auto [r, closed] = Exchange("DELETE /?file=%3Cscript%3E HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(r.status, 405);
  EXPECT_EQ(r.headers.count("connection"), 1u);
  EXPECT_EQ(r.Header("connection"), "close");
  EXPECT_TRUE(closed);
  EXPECT_EQ(r.body.find("script"), std::string::npos);
}

TEST_F(HardenedServer, KeepAliveLimitsAreTheAdvertisedOnes) {
  Start();
  Connection c(Port(), 10s);
  const std::string request = "GET /?file=1 HTTP/1.1\r\nHost: x\r\n\r\n";
  // Each response says how many more the connection takes; the last one
  // closes it.
  for (int i = 1; i <= 100; ++i) {
    ASSERT_TRUE(c.Send(request)) << i;
    const Response r = c.Read();
    ASSERT_EQ(r.status, 200) << i;
    if (i < 100) {
      EXPECT_EQ(r.Header("keep-alive"), "timeout=5, max=" + std::to_string(100 - i)) << i;
      EXPECT_EQ(r.headers.count("connection"), 0u) << i;
    } else {
      EXPECT_EQ(r.Header("connection"), "close");
      EXPECT_EQ(r.headers.count("keep-alive"), 0u);
    }
  }
  EXPECT_TRUE(c.PeerClosed());

  // An idle connection lives as long as advertised, and then ends.
  Connection idle(Port(), 10s);
  ASSERT_TRUE(idle.Send(request));
  ASSERT_EQ(idle.Read().Header("keep-alive"), "timeout=5, max=99");
  std::this_thread::sleep_for(3s);
  ASSERT_TRUE(idle.Send(request));
  EXPECT_EQ(idle.Read().status, 200);
  EXPECT_TRUE(idle.PeerClosed());
}

TEST_F(HardenedServer, AnswersOneRangeExactlyAndIgnoresTheRest) {
  Start();
  const std::string picture = PictureBytes();
  const std::string size = std::to_string(picture.size());
  // All on one connection: a wrong length would garble what follows.
  Connection c(Port());
  const auto get = [&](const std::string& target, const std::string& fields, bool head = false) {
    EXPECT_TRUE(c.Send((head ? "HEAD " : "GET ") + target + " HTTP/1.1\r\nHost: x\r\n" + fields + "\r\n"));
    return c.Read(head);
  };
  struct Part {
    std::string range;
    size_t first, count;
  };
  for (const Part& part :
       {Part{"bytes=0-9", 0, 10}, Part{"bytes=4700-5000", 4700, 23}, Part{"bytes=4700-", 4700, 23},
        Part{"bytes=-100", 4623, 100}, Part{"bytes=-9999", 0, 4723}, Part{"bytes=4722-4722", 4722, 1}}) {
    const Response r = get("/pictures/a.jpg", "Range: " + part.range + "\r\n");
    EXPECT_EQ(r.status, 206) << part.range;
    EXPECT_EQ(r.Header("content-range"),
              "bytes " + std::to_string(part.first) + "-" + std::to_string(part.first + part.count - 1) + "/" + size)
        << part.range;
    EXPECT_EQ(r.Header("content-length"), std::to_string(part.count)) << part.range;
    EXPECT_EQ(r.body, picture.substr(part.first, part.count)) << part.range;
  }
  for (const std::string range : {"bytes=9000-", "bytes=4723-4800", "bytes=-0"}) {
    const Response r = get("/pictures/a.jpg", "Range: " + range + "\r\n");
    EXPECT_EQ(r.status, 416) << range;
    EXPECT_EQ(r.Header("content-range"), "bytes */" + size) << range;
  }
  // Several ranges, malformed ones and other units: the whole file.
  std::string many = "bytes=0-0";
  for (int i = 1; i < 200; ++i) many += "," + std::to_string(i * 10) + "-" + std::to_string(i * 10 + 5);
  for (const std::string& range :
       {std::string("bytes=0-1,5-6"), std::string("bytes=0-1,3000-"), many, std::string("bytes=5-2"),
        std::string("bytes=x-3"), std::string("bytes=1-2-3"), std::string("lines=1-2"), std::string("bytes")}) {
    const Response r = get("/pictures/a.jpg", "Range: " + range + "\r\n");
    EXPECT_EQ(r.status, 200) << range;
    EXPECT_EQ(r.body, picture) << range;
    EXPECT_EQ(r.headers.count("content-range"), 0u) << range;
  }
  // A range of another version of the file is no use: the whole file.
  const std::string etag = get("/pictures/a.jpg", "").Header("etag");
  EXPECT_EQ(get("/pictures/a.jpg", "Range: bytes=0-9\r\nIf-Range: \"stale\"\r\n").status, 200);
  EXPECT_EQ(get("/pictures/a.jpg", "Range: bytes=0-9\r\nIf-Range: " + etag + "\r\n").body, picture.substr(0, 10));
  // HEAD tells the part's length without sending it.
  const Response head = get("/pictures/a.jpg", "Range: bytes=0-9\r\n", true);
  EXPECT_EQ(head.status, 206);
  EXPECT_EQ(head.Header("content-length"), "10");
  // Error pages and album pages are never sliced.
  const Response missing = get("/pictures/none.jpg", "Range: bytes=0-9\r\n");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.headers.count("content-range"), 0u);
  EXPECT_GT(missing.body.size(), 10u);
  const Response page = get("/?file=1", "Range: bytes=0-2\r\n");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<p>b.jpg 2</p>");
  // The connection still frames correctly after all that.
  EXPECT_EQ(get("/pictures/b.jpg", "").body, "second");
}

// Reads a response's bytes slowly for `slow`, then as fast as it can until
// the connection ends; the count of bytes received.
size_t ReadSlowlyThenDrain(Connection& c, std::chrono::milliseconds slow) {
  size_t received = 0;
  char chunk[1 << 16];
  const auto until = std::chrono::steady_clock::now() + slow;
  while (std::chrono::steady_clock::now() < until) {
    const ssize_t n = ::recv(c.Fd(), chunk, 2048, MSG_DONTWAIT);
    if (n > 0) received += static_cast<size_t>(n);
    if (n == 0) return received;
    std::this_thread::sleep_for(100ms);
  }
  while (true) {
    const ssize_t n = ::recv(c.Fd(), chunk, sizeof chunk, 0);
    if (n <= 0) return received;
    received += static_cast<size_t>(n);
  }
}

TEST_F(HardenedServer, SlowReadersLoseTheirConnectionNotTheServer) {
  const size_t big = 32u << 20;
  WriteFile(folder_ / "big.jpg", std::string(big, 'x'));
  // Small enough that the deadline is mostly the first second, so that a
  // loaded machine still keeps up.
  const size_t fastSize = 4u << 20;
  WriteFile(folder_ / "fast.jpg", std::string(fastSize, 'y'));
  // A response must go at 16 MiB/s after its first second: 3 s for big.jpg.
  Start({"--threads", "2", "--min-rate", std::to_string(16 << 20), "--write-timeout", "1000"});
  const long before = server_->ResidentKiB();
  std::vector<std::unique_ptr<Connection>> readers;
  for (int i = 0; i < 8; ++i) {
    readers.push_back(std::make_unique<Connection>(Port(), 20s));
    const int small = 4096;
    ::setsockopt(readers.back()->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(readers.back()->Send("GET /pictures/big.jpg HTTP/1.1\r\nHost: x\r\n\r\n"));
  }
  // More readers than threads, and others are still answered at once.
  for (int i = 0; i < 3; ++i) ExpectServed(1s);
  std::vector<size_t> received(readers.size());
  std::vector<std::thread> drains;
  for (size_t i = 0; i < readers.size(); ++i) {
    drains.emplace_back([&, i] { received[i] = ReadSlowlyThenDrain(*readers[i], 5s); });
  }
  for (auto& t : drains) t.join();
  // Past their deadline each lost its connection, well short of the file.
  for (size_t i = 0; i < readers.size(); ++i) EXPECT_LT(received[i], big / 2) << i;
  // A reader that keeps up gets it all.
  Connection fast(Port(), 20s);
  ASSERT_TRUE(fast.Send("GET /pictures/fast.jpg HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
  const Response whole = fast.Read();
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body.size(), fastSize);
  EXPECT_LT(server_->ResidentKiB() - before, 32 * 1024);
  ASSERT_EQ(server_->Stop(), std::optional<int>(0));
  EXPECT_NE(server_->ErrorOutput().find("(too slow: cut off)"), std::string::npos);
}

TEST_F(HardenedServer, StopsWithinItsGraceWhileSlowReadersHoldResponses) {
  WriteFile(folder_ / "big.jpg", std::string(32u << 20, 'x'));
  Start();
  std::vector<std::unique_ptr<Connection>> readers;
  for (int i = 0; i < 8; ++i) {
    readers.push_back(std::make_unique<Connection>(Port(), 20s));
    ASSERT_TRUE(readers.back()->Send("GET /pictures/big.jpg HTTP/1.1\r\nHost: x\r\n\r\n"));
    char first[1024];
    ASSERT_GT(::recv(readers.back()->Fd(), first, sizeof first, MSG_WAITALL), 0);
  }
  // They read nothing more; the grace period (a few seconds) ends them.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(server_->Stop(20s), std::optional<int>(0));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  server_.reset();
}

TEST_F(HardenedServer, DrippedHeadsHoldNoThreadAndEndAtTheirDeadline) {
  Start({"--threads", "2"});
  const long before = server_->ResidentKiB();
  std::vector<std::unique_ptr<Connection>> drips;
  for (int i = 0; i < 100; ++i) {
    drips.push_back(std::make_unique<Connection>(Port(), 2s));
    ASSERT_TRUE(drips.back()->Connected());
  }
  const std::string head = "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(200, 's');
  // A byte every 100 ms from each: no head completes within 5 s.
  std::vector<bool> cut(drips.size(), false);
  for (size_t step = 0; step < 70; ++step) {
    for (size_t i = 0; i < drips.size(); ++i) {
      if (!cut[i] && !drips[i]->Send(head.substr(step % head.size(), 1))) cut[i] = true;
    }
    if (step % 10 == 5) ExpectServed(1s);
    std::this_thread::sleep_for(100ms);
  }
  // Each was closed at its deadline without an answer to its head.
  for (size_t i = 0; i < drips.size(); ++i) {
    if (!cut[i]) {
      EXPECT_TRUE(drips[i]->PeerClosed()) << i;
    }
  }
  // Natively about 2 MiB; AddressSanitizer keeps every freed block of the
  // 7,000 reads in quarantine, which resident memory counts too.
  EXPECT_LT(server_->ResidentKiB() - before, 64 * 1024);
}

TEST_F(HardenedServer, ConnectionsPastTheBoundAreClosedAndOthersStillAnswered) {
  Start();
  Connection kept(Port());
  const std::string request = "GET /?file=1 HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_TRUE(kept.Send(request));
  ASSERT_EQ(kept.Read().status, 200);
  // 512 at once: the kept one and 511 that say nothing.
  std::vector<std::unique_ptr<Connection>> idle;
  for (int i = 0; i < 511; ++i) idle.push_back(std::make_unique<Connection>(Port(), 4s));
  // Accepted in the order they connected, so these come past the bound.
  for (int i = 0; i < 5; ++i) {
    Connection over(Port(), 2s);
    ASSERT_TRUE(over.Connected());
    EXPECT_TRUE(over.PeerClosed()) << i;
  }
  ASSERT_TRUE(kept.Send(request));
  EXPECT_EQ(kept.Read().body, "<p>b.jpg 2</p>");
  // Once they go, new clients are taken again.
  idle.clear();
  bool served = false;
  for (int attempt = 0; attempt < 40 && !served; ++attempt) {
    Connection c(Port(), 2s);
    served = c.Send(request) && c.Read().status == 200;
    if (!served) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(served);
}

}  // namespace
}  // namespace serve_test
