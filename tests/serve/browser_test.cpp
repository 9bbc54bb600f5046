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
std::string RunChromium(const TempDir& scratch, const std::string& url, const std::string& args) {
    const fs::path profile = scratch.Path() / ("profile-" + std::to_string(std::rand()));
    const fs::path output = scratch.Path() / "chromium-out.txt";
    const std::string command = std::string("timeout -k 5 90 ") + kChromium +
                                " --headless --no-sandbox --disable-gpu --no-first-run"
                                " --disable-background-networking --disable-component-update --disable-sync"
                                " --disable-quic --disable-dev-shm-usage --user-data-dir='" +
                                profile.string() + "' " + args + " '" + url + "' > '" + output.string() +
                                "' 2>/dev/null";
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

    const fs::path album_ = fs::path(AM_SOURCE_DIR) / "examples" / "album";
    const fs::path template_ = fs::path(AM_SOURCE_DIR) / "examples" / "album.html";
    TempDir scratch_;
};

TEST_F(SampleAlbumInBrowser, ShowsThePictureAndTakesAScreenshot) {
    // The sample template plus a script that records, once the page has
    // loaded, how wide the picture turned out.
    std::string page = ReadFile(template_);
    const std::string probe =
        "<script>window.addEventListener('load', function () {"
        " var img = document.querySelector('img');"
        " var m = document.createElement('meta'); m.id = 'am-natural-width';"
        " m.content = img ? String(img.naturalWidth) : 'no-img';"
        " document.head.appendChild(m); });</script>";
    const size_t bodyEnd = page.rfind("</body>");
    page.insert(bodyEnd == std::string::npos ? page.size() : bodyEnd, probe);
    const fs::path probedTemplate = scratch_.Path() / "album-probe.html";
    WriteFile(probedTemplate, page);

    {
        ServerProcess probed({"--folder", album_.string(), "--template", probedTemplate.string()});
        ASSERT_TRUE(probed.Started()) << probed.ErrorOutput();
        // The first page, and one whose picture has a name outside ASCII.
        for (const std::string query : {"", "?file=Caf%E9%2Ejpeg"}) {
            const std::string dom =
                RunChromium(scratch_, probed.Url() + query, "--virtual-time-budget=10000 --dump-dom");
            const std::string marker = "id=\"am-natural-width\" content=\"";
            const size_t at = dom.find(marker);
            ASSERT_NE(at, std::string::npos) << query << dom.substr(0, 2000);
            const std::string width =
                dom.substr(at + marker.size(), dom.find('"', at + marker.size()) - at - marker.size());
            EXPECT_NE(width, "no-img") << query << ": the page shows no picture";
            EXPECT_GT(std::atoi(width.c_str()), 0) << query << ": the picture did not load (" << width << ")";
        }
        // The browser fetched both pictures from the server.
        const std::string log = probed.ErrorOutput();
        EXPECT_NE(log.find("\"GET /pictures/Beach%2001.jpg HTTP/1.1\" 200 "), std::string::npos) << log;
        EXPECT_NE(log.find("\"GET /pictures/Caf%C3%A9.jpeg HTTP/1.1\" 200 "), std::string::npos) << log;
    }

    ServerProcess plain({"--folder", album_.string(), "--template", template_.string()});
    ASSERT_TRUE(plain.Started()) << plain.ErrorOutput();
    const fs::path shot = fs::path(AM_BINARY_DIR) / "serve-screenshot.png";
    fs::remove(shot);
    RunChromium(scratch_, plain.Url(),
                "--hide-scrollbars --window-size=1024,768 --virtual-time-budget=10000 --screenshot='" + shot.string() + "'");
    ASSERT_TRUE(fs::exists(shot));
    EXPECT_EQ(ReadFile(shot).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_GT(fs::file_size(shot), 1000u);
}

}  // namespace
}  // namespace serve_test
