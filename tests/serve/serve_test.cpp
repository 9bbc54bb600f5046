// The web server seen from a client: pages, links, pictures, refusals.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "album_engine.h"
#include "serve_harness.h"
#include "text.h"
#include "url.h"

namespace serve_test {
namespace {
namespace fs = std::filesystem;

// Pictures in album order (the leading letters fix the order).
const std::vector<std::string> kAlbum = {
    "a plain.jpg",
    "b Salt & Pepper's.gif",
    "c caf\xc3\xa9.jpg",                // é
    "d \xd0\x96\xd1\x83\xd0\xba.jpeg",  // Жук
    "e smile \xf0\x9f\x98\x80.jpg",     // an emoji (a surrogate pair in UTF-16)
    "F last.JPG",
};

constexpr const char* kTemplate =
    "<html><body>"
    "<!--tq_LinkToPreviousStart--><a id=\"prev\" href=\"?file=^tq_UrlEncodedPreviousFileName^\">prev</a>"
    "<!--tq_LinkToPreviousEnd-->"
    "<p id=\"pos\">^tq_FileOrdinalNumber^/^tq_TotalFilesCount^</p>"
    "<!--tq_LinkToNextStart--><a id=\"next\" href=\"?file=^tq_UrlEncodedNextFileName^\">next</a>"
    "<!--tq_LinkToNextEnd-->"
    "</body></html>";

std::string Content(size_t i) { return "picture-" + std::to_string(i) + "-" + kAlbum[i]; }

class AlbumServer : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.Path() / "album";
    fs::create_directory(folder_);
    for (size_t i = 0; i < kAlbum.size(); ++i) WriteFile(folder_ / kAlbum[i], Content(i));
    WriteFile(folder_ / "notes.txt", "not a picture");
    WriteFile(folder_ / ".hidden.jpg", "hidden");
    fs::create_directory(folder_ / "sub.jpg");
    templatePath_ = dir_.Path() / "page.html";
    WriteFile(templatePath_, kTemplate);
  }

  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--folder", folder_.string(), "--template", templatePath_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    server_ = std::make_unique<ServerProcess>(args);
    ASSERT_TRUE(server_->Started()) << server_->ErrorOutput();
  }

  int Port() const { return server_->Port(); }

  // Every server ends cleanly: a sanitizer finding in it fails the test.
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

// The value of `attribute="..."` on the element with the given id, or nothing.
std::optional<std::string> LinkOf(const std::string& page, const std::string& id) {
  const size_t at = page.find("id=\"" + id + "\" href=\"");
  if (at == std::string::npos) return std::nullopt;
  const size_t start = page.find("href=\"", at) + 6;
  return page.substr(start, page.find('"', start) - start);
}

std::string Position(const std::string& page) {
  const size_t start = page.find("<p id=\"pos\">") + 12;
  return page.substr(start, page.find("</p>", start) - start);
}

// The picture a "?file=..." link names, decoded the way the server does.
std::string LinkedName(const std::string& href) {
  EXPECT_TRUE(href.starts_with("?file="));
  const auto units = albummaker::host::DecodeAlbumLinkValue(href.substr(6));
  EXPECT_TRUE(units.has_value()) << href;
  return units ? albummaker::host::Utf16ToUtf8(*units) : std::string();
}

TEST_F(AlbumServer, NextLinksVisitEveryPictureOnceInOrderAndPreviousLinksWalkBack) {
  Start();
  const std::string total = std::to_string(kAlbum.size());
  std::string target = "/";
  std::vector<std::string> forward;
  for (size_t step = 0; step <= kAlbum.size(); ++step) {
    const Response r = Request(Port(), target);
    ASSERT_EQ(r.status, 200) << target;
    EXPECT_EQ(r.Header("content-type"), "text/html; charset=utf-8");
    forward.push_back(Position(r.body));
    const auto next = LinkOf(r.body, "next");
    if (!next) break;
    ASSERT_LT(step + 1, kAlbum.size()) << "a next link on the last page";
    EXPECT_EQ(LinkedName(*next), kAlbum[step + 1]);
    target = "/" + *next;
  }
  std::vector<std::string> expected;
  for (size_t i = 1; i <= kAlbum.size(); ++i) expected.push_back(std::to_string(i) + "/" + total);
  EXPECT_EQ(forward, expected);

  std::vector<std::string> backward;
  for (size_t step = 0; step <= kAlbum.size(); ++step) {
    const Response r = Request(Port(), target);
    ASSERT_EQ(r.status, 200) << target;
    backward.push_back(Position(r.body));
    const auto prev = LinkOf(r.body, "prev");
    if (!prev) break;
    EXPECT_EQ(LinkedName(*prev), kAlbum[kAlbum.size() - 2 - step]);
    target = "/" + *prev;
  }
  std::reverse(expected.begin(), expected.end());
  EXPECT_EQ(backward, expected);
}

TEST_F(AlbumServer, FileParameterSelectsByPositionOrNameAndFallsBackToTheFirst) {
  Start();
  EXPECT_EQ(Position(Request(Port(), "/?file=3").body), "4/6");
  EXPECT_EQ(Position(Request(Port(), "/?file=d+%u0416%u0443%u043A%2Ejpeg").body), "4/6");
  EXPECT_EQ(Position(Request(Port(), "/?file=f+LAST%2Ejpg").body), "6/6");  // ASCII case ignored
  EXPECT_EQ(Position(Request(Port(), "/?file=nothing%2Ejpg").body), "1/6");
  EXPECT_EQ(Position(Request(Port(), "/?file=99").body), "1/6");
  EXPECT_EQ(Position(Request(Port(), "/?file=").body), "1/6");
  const Response head = Request(Port(), "/?file=1", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("content-length"), std::to_string(Request(Port(), "/?file=1").body.size()));
  EXPECT_EQ(head.body, "");
  // Text no link of the album can hold is refused rather than guessed at.
  EXPECT_EQ(Request(Port(), "/?file=%u04").status, 400);
  EXPECT_EQ(Request(Port(), "/?file=a%00b").status, 400);
  EXPECT_EQ(Request(Port(), "/nothing").status, 404);
}

TEST_F(AlbumServer, ServesEachPictureOfTheAlbumWithItsType) {
  fs::create_symlink("a plain.jpg", folder_ / "in.jpg");
  Start();
  for (size_t i = 0; i < kAlbum.size(); ++i) {
    const Response r = Request(Port(), "/pictures/" + PercentEncodeBytes(kAlbum[i]));
    ASSERT_EQ(r.status, 200) << kAlbum[i];
    EXPECT_EQ(r.body, Content(i));
    EXPECT_EQ(r.Header("content-length"), std::to_string(Content(i).size()));
    EXPECT_EQ(r.Header("content-type"), kAlbum[i].ends_with(".gif") ? "image/gif" : "image/jpeg");
  }
  const Response head = Request(Port(), "/pictures/c%20caf%C3%A9.jpg", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("content-length"), std::to_string(Content(2).size()));
  EXPECT_EQ(head.Header("content-type"), "image/jpeg");
  // A link to a picture beside it in the folder is that picture.
  EXPECT_EQ(Request(Port(), "/pictures/in.jpg").body, Content(0));
  // Listed as it is at the moment of the request.
  WriteFile(folder_ / "g new.gif", "new");
  EXPECT_EQ(Request(Port(), "/pictures/g%20new.gif").body, "new");
  fs::remove(folder_ / "g new.gif");
  EXPECT_EQ(Request(Port(), "/pictures/g%20new.gif").status, 404);
}

TEST_F(AlbumServer, PictureLinksOfTheAlbumEncodingLeadToEachPicture) {
  WriteFile(dir_.Path() / "secret.jpg", "secret");
  fs::create_symlink("../secret.jpg", folder_ / "out.jpg");
  Start();
  for (size_t i = 0; i < kAlbum.size(); ++i) {
    const std::u16string link = albummaker::UrlEncode(albummaker::host::Utf8ToUtf16(kAlbum[i]));
    const Response r = Request(Port(), "/picture?file=" + std::string(link.begin(), link.end()));
    ASSERT_EQ(r.status, 200) << kAlbum[i];
    EXPECT_EQ(r.body, Content(i));
    EXPECT_EQ(r.Header("content-type"), kAlbum[i].ends_with(".gif") ? "image/gif" : "image/jpeg");
    EXPECT_FALSE(r.Header("etag").empty());
  }
  // The same checks as for /pictures/NAME.
  for (const std::string target :
       {"/picture", "/picture?file=", "/picture?name=a+plain%2Ejpg", "/picture?file=%u04",
        "/picture?file=a+plain.jpg%00", "/picture?file=..%2Fsecret%2Ejpg", "/picture?file=out%2Ejpg",
        "/picture?file=%2Ehidden%2Ejpg", "/picture?file=sub%2Ejpg", "/picture?file=notes%2Etxt",
        "/picture?file=A+PLAIN%2EJPG", "/picture/a+plain%2Ejpg"}) {
    const Response r = Request(Port(), target);
    EXPECT_EQ(r.status, 404) << target;
    EXPECT_EQ(r.body.find("secret"), std::string::npos) << target;
  }
}

TEST_F(AlbumServer, NothingOutsideTheAlbumIsReachable) {
  // The album lists these links, but they lead out of the folder.
  WriteFile(dir_.Path() / "secret.jpg", "secret");
  fs::create_symlink("../secret.jpg", folder_ / "out.jpg");
  fs::create_symlink(dir_.Path() / "secret.jpg", folder_ / "abs.jpg");
  Start();
  const std::string secret = PercentEncodeBytes((dir_.Path() / "secret.jpg").string());
  const std::string attempts[] = {
      "/pictures/../secret.jpg",
      "/pictures/..%2Fsecret.jpg",
      "/pictures/%2E%2E%2Fsecret.jpg",
      "/pictures/%2e%2e/secret.jpg",
      "/pictures/%252E%252E%252Fsecret.jpg",
      "/pictures/..%252Fsecret.jpg",
      "/pictures/" + secret,
      "/pictures//" + secret.substr(3),
      "/pictures/..%5Csecret.jpg",
      "/pictures/..\\secret.jpg",
      "/pictures/a%20plain.jpg%00",
      "/pictures/a%20plain.jpg%00.jpg",
      "/pictures/out.jpg",
      "/pictures/abs.jpg",
      "/pictures/.hidden.jpg",
      "/pictures/sub.jpg",
      "/pictures/notes.txt",
      "/pictures/",
      "/pictures/.",
      "/pictures/%2E%2E",
      "/pictures/a%ZZ.jpg",
      "/pictures/%u0061%20plain.jpg",
      "/pictures/A%20PLAIN.JPG",
      "/secret.jpg",
      "/../secret.jpg",
      "/album/a%20plain.jpg",
  };
  for (const auto& target : attempts) {
    const Response r = Request(Port(), target);
    EXPECT_EQ(r.status, 404) << target;
    EXPECT_EQ(r.body.find("secret"), std::string::npos) << target;
  }
}

TEST_F(AlbumServer, AnswersConditionalPictureRequestsWithNotModified) {
  Start();
  const std::string target = "/pictures/a%20plain.jpg";
  const Response first = Request(Port(), target);
  ASSERT_EQ(first.status, 200);
  const std::string etag = first.Header("etag");
  const std::string modified = first.Header("last-modified");
  ASSERT_FALSE(etag.empty());
  ASSERT_TRUE(modified.ends_with(" GMT")) << modified;

  const Response same = Request(Port(), target, "GET", "If-None-Match: " + etag + "\r\n");
  EXPECT_EQ(same.status, 304);
  EXPECT_EQ(same.body, "");
  EXPECT_EQ(same.Header("etag"), etag);
  EXPECT_EQ(Request(Port(), target, "GET", "If-None-Match: \"x\", W/" + etag + "\r\n").status, 304);
  EXPECT_EQ(Request(Port(), target, "GET", "If-None-Match: \"other\"\r\n").status, 200);
  EXPECT_EQ(Request(Port(), target, "GET", "If-Modified-Since: " + modified + "\r\n").status, 304);
  EXPECT_EQ(Request(Port(), target, "GET", "If-Modified-Since: Mon, 01 Jan 2001 00:00:00 GMT\r\n").status, 200);

  // A changed file no longer matches.
  WriteFile(folder_ / "a plain.jpg", "changed, and longer than before");
  const Response changed = Request(Port(), target, "GET", "If-None-Match: " + etag + "\r\n");
  EXPECT_EQ(changed.status, 200);
  EXPECT_EQ(changed.body, "changed, and longer than before");
  EXPECT_NE(changed.Header("etag"), etag);
}

TEST_F(AlbumServer, RefusesOtherMethodsAndBodiesWithoutReadingThem) {
  Start();
  for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "PATCH", "TRACE"}) {
    const Response r = Request(Port(), "/", method);
    EXPECT_EQ(r.status, 405) << method;
    EXPECT_EQ(r.Header("allow"), "GET, HEAD") << method;
  }
  // A method HTTP does not know is not even a request; nothing after it on
  // that connection is taken for one either.
  {
    Connection c(Port());
    ASSERT_TRUE(c.Send("BREW / HTTP/1.1\r\nHost: x\r\nX-Next: y\r\n\r\n"));
    EXPECT_EQ(c.Read().status, 400);
    EXPECT_TRUE(c.PeerClosed());
  }
  EXPECT_EQ(Request(Port(), "/", "GET", "Content-Length: 5\r\n").status, 413);
  // Any transfer coding is a framing two parsers may read differently.
  EXPECT_EQ(Request(Port(), "/", "GET", "Transfer-Encoding: chunked\r\n").status, 400);
  EXPECT_EQ(Request(Port(), "/", "GET", "Content-Encoding: gzip\r\n").status, 415);
  EXPECT_EQ(Request(Port(), "/", "GET", "Content-Length: 0\r\n").status, 200);

  // The announced body stays unread: the connection ends after the refusal
  // instead of taking the body as the next request.
  Connection c(Port());
  ASSERT_TRUE(
      c.Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 40\r\n\r\nGET /pictures/a%20plain.jpg HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(c.Read().status, 405);
  EXPECT_TRUE(c.PeerClosed());
}

TEST_F(AlbumServer, KeepsConnectionsAliveAndLogsOneLinePerRequest) {
  Start();
  {
    Connection c(Port());
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(c.Send("GET /?file=" + std::to_string(i) + " HTTP/1.1\r\nHost: x\r\n\r\n"));
      const Response r = c.Read();
      ASSERT_EQ(r.status, 200);
      EXPECT_EQ(Position(r.body), std::to_string(i + 1) + "/6");
    }
    ASSERT_TRUE(c.Send("GET /missing HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(c.Read().status, 404);
  }
  ASSERT_EQ(server_->Stop(), std::optional<int>(0));
  const std::string log = server_->ErrorOutput();
  size_t lines = 0;
  for (size_t at = log.find("\"GET "); at != std::string::npos; at = log.find("\"GET ", at + 1)) ++lines;
  EXPECT_EQ(lines, 6u) << log;
  EXPECT_NE(log.find("\"GET /?file=4 HTTP/1.1\" 200 "), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /missing HTTP/1.1\" 404 "), std::string::npos) << log;
}

TEST_F(AlbumServer, AnEngineErrorAnswers500AndLogsItsDescription) {
  // A template that opens but cannot be read makes the engine fail: the
  // loopback device's link speed is such a file.
  const fs::path unreadable = "/sys/class/net/lo/speed";
  const bool readFails = [&] {
    const int fd = ::open(unreadable.c_str(), O_RDONLY);
    if (fd < 0) return false;
    char byte;
    const bool failed = ::read(fd, &byte, 1) < 0;
    ::close(fd);
    return failed;
  }();
  if (!readFails) {
    GTEST_SKIP() << unreadable << " is missing or readable here";
  }
  templatePath_ = unreadable;
  Start();
  const Response r = Request(Port(), "/");
  EXPECT_EQ(r.status, 500);
  // The engine's words are for the log, not for the client.
  EXPECT_EQ(r.body.find("Error while reading from file."), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("Internal Server Error"), std::string::npos) << r.body;
  ASSERT_EQ(server_->Stop(), std::optional<int>(0));
  EXPECT_NE(server_->ErrorOutput().find("Error while reading from file."), std::string::npos);
}

TEST_F(AlbumServer, ATemplateTooLargeToReadAnswers500WithoutTheEngineError) {
  // A sparse 5 GiB template: more than one read takes, so the engine
  // refuses it with its out-of-memory error number.
  templatePath_ = dir_.Path() / "huge.html";
  {
    std::ofstream(templatePath_, std::ios::binary).put('x');
    fs::resize_file(templatePath_, 5ull << 30);
  }
  Start();
  const Response r = Request(Port(), "/");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body.find("Error number"), std::string::npos) << r.body;
  EXPECT_EQ(r.body.find("memory"), std::string::npos) << r.body;
  ASSERT_EQ(server_->Stop(), std::optional<int>(0));
  const std::string log = server_->ErrorOutput();
  EXPECT_NE(log.find("\"GET / HTTP/1.1\" 500 "), std::string::npos) << log;
  EXPECT_NE(log.find("Error number: 2147942414 (0x8007000E)"), std::string::npos) << log;
}

TEST_F(AlbumServer, StopsOnSigtermAfterFinishingARequestInFlight) {
  // A large picture read slowly is still in flight when the signal comes.
  const std::string big(32 << 20, 'x');
  WriteFile(folder_ / "big.jpg", big);
  Start();
  Connection c(Port(), std::chrono::seconds(30));
  ASSERT_TRUE(c.Send("GET /pictures/big.jpg HTTP/1.1\r\nHost: x\r\n\r\n"));
  char first[1024];
  ASSERT_GT(::recv(c.Fd(), first, sizeof first, MSG_WAITALL), 0);
  ::kill(server_->Pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // New clients are no longer taken.
  EXPECT_FALSE(Connection(Port()).Connected());
  size_t received = 0;
  char chunk[1 << 16];
  while (true) {
    const ssize_t n = ::recv(c.Fd(), chunk, sizeof chunk, 0);
    if (n <= 0) break;
    received += static_cast<size_t>(n);
  }
  EXPECT_GE(received + sizeof first, big.size());
  EXPECT_EQ(server_->Stop(), std::optional<int>(0));
}

TEST(ServeCommand, RefusesBadUsage) {
  TempFolder dir;
  WriteFile(dir.Path() / "t.html", "x");
  const std::string folder = dir.Path().string();
  const std::string tmpl = (dir.Path() / "t.html").string();
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--folder", folder},
           {"--folder", folder, "--template", tmpl, "--threads", "0"},
           {"--folder", folder, "--template", tmpl, "--bogus", "1"},
           {"--folder", (dir.Path() / "missing").string(), "--template", tmpl},
           {"--folder", folder, "--template", (dir.Path() / "missing.html").string()},
       }) {
    ServerProcess server(args, std::chrono::seconds(10));
    EXPECT_FALSE(server.Started());
    const auto code = server.Stop();
    ASSERT_TRUE(code.has_value());
    EXPECT_NE(*code, 0);
  }
}

}  // namespace
}  // namespace serve_test
