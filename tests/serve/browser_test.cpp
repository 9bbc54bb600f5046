// The sample album in a real browser: the page loads, its picture shows, and
// a screenshot of it lands in the build tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "serve_harness.h"

namespace serve_test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kChromium = "/usr/bin/chromium";

// Runs the browser on `url` with extra arguments, bounded in time; what it
// printed on standard output.
std::string RunChromium(const TempFolder& scratch, const std::string& url, const std::string& args) {
  const fs::path profile = scratch.Path() / ("profile-" + std::to_string(std::rand()));
  const fs::path output = scratch.Path() / "chromium-out.txt";
  const std::string command = std::string("timeout -k 5 90 ") + kChromium +
                              " --headless --no-sandbox --disable-gpu --no-first-run"
                              " --disable-background-networking --disable-component-update --disable-sync"
                              " --disable-quic --disable-dev-shm-usage --user-data-dir='" +
                              profile.string() + "' " + args + " '" + url + "' > '" + output.string() + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << command;
  return ReadFile(output);
}

class SampleAlbumInBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed; browser test skipped";
    ASSERT_TRUE(fs::is_directory(album_)) << album_;
    ASSERT_TRUE(fs::is_regular_file(template_)) << template_;
  }

  // The sample template plus a script that records, once the page has
  // loaded, how wide the picture turned out.
  fs::path ProbedTemplate() {
    std::string page = ReadFile(template_);
    const std::string probe =
        "<script>window.addEventListener('load', function () {"
        " var img = document.querySelector('img');"
        " var m = document.createElement('meta'); m.id = 'am-natural-width';"
        " m.content = img ? String(img.naturalWidth) : 'no-img';"
        " document.head.appendChild(m); });</script>";
    const size_t bodyEnd = page.rfind("</body>");
    page.insert(bodyEnd == std::string::npos ? page.size() : bodyEnd, probe);
    const fs::path probed = scratch_.Path() / "album-probe.html";
    WriteFile(probed, page);
    return probed;
  }

  // What the probe recorded on the page at `url`.
  std::string PictureWidth(const std::string& url) {
    const std::string dom = RunChromium(scratch_, url, "--virtual-time-budget=10000 --dump-dom");
    const std::string marker = "id=\"am-natural-width\" content=\"";
    const size_t at = dom.find(marker);
    EXPECT_NE(at, std::string::npos) << url << dom.substr(0, 2000);
    if (at == std::string::npos) return "no-probe";
    return dom.substr(at + marker.size(), dom.find('"', at + marker.size()) - at - marker.size());
  }

  const fs::path album_ = fs::path(AM_SOURCE_DIR) / "examples" / "album";
  const fs::path template_ = fs::path(AM_SOURCE_DIR) / "examples" / "album.html";
  TempFolder scratch_;
};

TEST_F(SampleAlbumInBrowser, ShowsThePictureAndTakesAScreenshot) {
  const fs::path probedTemplate = ProbedTemplate();
  {
    ServerProcess probed({"--folder", album_.string(), "--template", probedTemplate.string()});
    ASSERT_TRUE(probed.Started()) << probed.ErrorOutput();
    // The first page, and one whose picture has a name outside ASCII.
    for (const std::string query : {"", "?file=Caf%E9%2Ejpeg"}) {
      const std::string width = PictureWidth(probed.Url() + query);
      EXPECT_NE(width, "no-img") << query << ": the page shows no picture";
      EXPECT_GT(std::atoi(width.c_str()), 0) << query << ": the picture did not load (" << width << ")";
    }
    // The browser fetched both pictures from the server.
    const std::string log = probed.ErrorOutput();
    EXPECT_NE(log.find("\"GET /picture?file=Beach+01%2Ejpg HTTP/1.1\" 200 "), std::string::npos) << log;
    EXPECT_NE(log.find("\"GET /picture?file=Caf%E9%2Ejpeg HTTP/1.1\" 200 "), std::string::npos) << log;
  }

  ServerProcess plain({"--folder", album_.string(), "--template", template_.string()});
  ASSERT_TRUE(plain.Started()) << plain.ErrorOutput();
  const fs::path shot = fs::path(AM_BINARY_DIR) / "serve-screenshot.png";
  fs::remove(shot);
  RunChromium(
      scratch_, plain.Url(),
      "--hide-scrollbars --window-size=1024,768 --virtual-time-budget=10000 --screenshot='" + shot.string() + "'");
  ASSERT_TRUE(fs::exists(shot));
  EXPECT_EQ(ReadFile(shot).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_GT(fs::file_size(shot), 1000u);
}

TEST_F(SampleAlbumInBrowser, ShowsThePictureOfEveryHardName) {
  // Names a browser would take apart if the link were not encoded: "#"
  // ends the address, "?" starts a query, "%" and "+" decode, quotes end
  // attributes; letters outside ASCII, outside the BMP, and bytes that are
  // not UTF-8 at all.
  const std::string jpeg = ReadFile(album_ / "Beach 01.jpg");
  const std::string gif = ReadFile(album_ / "Salt & Pepper.gif");
  ASSERT_FALSE(jpeg.empty());
  ASSERT_FALSE(gif.empty());
  const std::vector<std::string> names = {
      "a #hash.jpg",
      "b what?.jpg",
      "c 100%.jpg",
      "d 1+1=2.jpg",
      "e Salt & Pepper.gif",
      "f \"double\" 'single'.jpg",
      "g caf\xc3\xa9.jpg",
      "h \xd0\x96\xd1\x83\xd0\xba.jpg",
      "i smile \xf0\x9f\x98\x80.jpg",
      "j \xe9t\xe9 latin-1.jpg",
      "k %41%u0041+%2B.jpg",
  };
  const fs::path folder = scratch_.Path() / "hard";
  fs::create_directory(folder);
  for (const auto& name : names) WriteFile(folder / name, name.ends_with(".gif") ? gif : jpeg);

  ServerProcess server({"--folder", folder.string(), "--template", ProbedTemplate().string()});
  ASSERT_TRUE(server.Started()) << server.ErrorOutput();
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string width = PictureWidth(server.Url() + "?file=" + std::to_string(i));
    EXPECT_GT(std::atoi(width.c_str()), 0) << names[i] << ": the picture did not load (" << width << ")";
  }
  EXPECT_EQ(server.Stop(), std::optional<int>(0));
  // Each page's picture came from the server's own link, none refused.
  const std::string log = server.ErrorOutput();
  size_t fetched = 0;
  for (size_t at = log.find("\"GET /picture?file="); at != std::string::npos;
       at = log.find("\"GET /picture?file=", at + 1)) {
    const size_t lineEnd = log.find('\n', at);
    EXPECT_NE(log.substr(at, lineEnd - at).find(" HTTP/1.1\" 200 "), std::string::npos) << log.substr(at, lineEnd - at);
    ++fetched;
  }
  EXPECT_EQ(fetched, names.size()) << log;
}

}  // namespace
}  // namespace serve_test
