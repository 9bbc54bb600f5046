#include <sys/stat.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "album_client.h"
#include "commands.h"
#include "serve.h"
#include "text.h"

namespace albummaker::host {
namespace {

constexpr const char* kServeUsage =
    "Usage: albummaker serve --folder DIR --template FILE [--bind ADDR] [--port N] [--threads N]\n"
    "Serves the album in DIR over HTTP: GET / shows the first picture's page,\n"
    "/?file=NAME (or a position) another one, /pictures/NAME the picture itself.\n"
    "  --bind ADDR    address to listen on (default 127.0.0.1)\n"
    "  --port N       port to listen on (default 8080; 0 picks a free one)\n"
    "  --threads N    worker threads (default 8)\n"
    "Prints the URL once it listens; stops on Ctrl+C (SIGINT) or SIGTERM.\n";

std::optional<long> ParseNumber(const std::string& text, long low, long high) {
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < low || value > high) return std::nullopt;
    return value;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsReadableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && std::ifstream(path).good();
}

}  // namespace

int RunServe(const Args& args, std::ostream& out, std::ostream& err) {
    ServeConfig config;
    std::string templatePath;
    std::string fixedPagePath;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out << kServeUsage;
            return kExitOk;
        }
        if (i + 1 >= args.size()) {
            err << "albummaker serve: " << arg << (arg.starts_with("--") ? " needs a value\n" : ": unexpected\n")
                << kServeUsage;
            return kExitUsage;
        }
        const std::string& value = args[++i];
        if (arg == "--folder") {
            config.folder = value;
        } else if (arg == "--template") {
            templatePath = value;
        } else if (arg == "--bind") {
            config.bindAddress = value;
        } else if (arg == "--port" || arg == "--threads") {
            const auto number = arg == "--port" ? ParseNumber(value, 0, 65535) : ParseNumber(value, 1, 256);
            if (!number) {
                err << "albummaker serve: " << arg << " \"" << value << "\" is out of range\n";
                return kExitUsage;
            }
            if (arg == "--port") {
                config.port = static_cast<int>(*number);
            } else {
                config.limits.threads = static_cast<size_t>(*number);
            }
        } else if (arg == "--fixed-page") {
            // Not in the usage: answers one fixed page instead of rendering,
            // to measure the server without the album.
            fixedPagePath = value;
        } else {
            err << "albummaker serve: unknown option " << arg << '\n' << kServeUsage;
            return kExitUsage;
        }
    }
    if (config.folder.empty() || templatePath.empty()) {
        err << "albummaker serve: --folder and --template are required\n" << kServeUsage;
        return kExitUsage;
    }
    if (!IsDirectory(config.folder)) {
        err << "albummaker serve: cannot open the folder " << config.folder << '\n';
        return kExitFailure;
    }
    if (!IsReadableFile(templatePath)) {
        err << "albummaker serve: cannot read the template " << templatePath << '\n';
        return kExitFailure;
    }
    std::string fixedPage;
    if (!fixedPagePath.empty()) {
        std::ifstream in(fixedPagePath, std::ios::binary);
        if (!in) {
            err << "albummaker serve: cannot read " << fixedPagePath << '\n';
            return kExitFailure;
        }
        fixedPage.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        config.fixedPage = &fixedPage;
    }

    std::u16string error;
    std::unique_ptr<AlbumClient> client = CreateAlbumClient(error);
    if (!client) {
        err << "albummaker serve: cannot create the album: " << Utf16ToUtf8(error) << '\n';
        return kExitFailure;
    }
    client->SetFolderPath(Utf8ToUtf16(config.folder));
    client->SetPageTemplatePath(Utf8ToUtf16(templatePath));
    return Serve(config, *client, out, err);
}

}  // namespace albummaker::host
