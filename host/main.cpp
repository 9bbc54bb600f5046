#include <iostream>
#include <string_view>

#include "am_version.h"
#include "commands.h"

namespace albummaker::host {
namespace {

struct Command {
  std::string_view name;
  std::string_view summary;
  int (*run)(const Args&, std::ostream&, std::ostream&);
};

// One row per command; `albummaker COMMAND --help` explains each one.
constexpr Command kCommands[] = {
    {"render", "write one album page to standard output", RunRender},
    {"serve", "serve an album's pages and pictures over HTTP", RunServe},
    {"register", "register a component module (as regsvr32 does)", RunRegister},
    {"unregister", "unregister a component module (as regsvr32 /u does)", RunUnregister},
};

void PrintUsage(std::ostream& os) {
  os << "Usage: albummaker COMMAND [OPTIONS]\n"
        "  or:  albummaker COMMAND --help\n"
        "  or:  albummaker --version\n\n"
        "Renders the HTML pages of a picture album from a folder of pictures and a\n"
        "page template, on the command line or as a small web server.\n\n"
        "Commands:\n";
  for (const Command& c : kCommands) {
    os << "  " << c.name;
    for (std::size_t i = c.name.size(); i < 12; ++i) os << ' ';
    os << c.summary << '\n';
  }
  os << "\nOptions:\n"
        "  --help      show this text\n"
        "  --version   show the program's version\n";
}

}  // namespace
}  // namespace albummaker::host

int HostMain(const std::vector<std::string>& utf8Args) {
  using namespace albummaker::host;
  try {
    if (utf8Args.empty()) {
      PrintUsage(std::cerr);
      return kExitUsage;
    }
    const std::string& first = utf8Args.front();
    if (first == "--help" || first == "-h" || first == "help") {
      PrintUsage(std::cout);
      std::cout.flush();
      return kExitOk;
    }
    if (first == "--version") {
      std::cout << "albummaker " AM_VERSION_STRING "\n";
      std::cout.flush();
      return std::cout ? kExitOk : kExitFailure;
    }
    for (const Command& c : kCommands) {
      if (first == c.name) {
        const Args rest(utf8Args.begin() + 1, utf8Args.end());
        const int code = c.run(rest, std::cout, std::cerr);
        std::cout.flush();
        if (!std::cout) {
          std::cerr << "albummaker: cannot write to standard output\n";
          return kExitFailure;
        }
        return code;
      }
    }
    std::cerr << "albummaker: unknown command \"" << first << "\"\n\n";
    PrintUsage(std::cerr);
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "albummaker: " << e.what() << '\n';
    return kExitFailure;
  } catch (...) {
    std::cerr << "albummaker: unexpected failure\n";
    return kExitFailure;
  }
}
