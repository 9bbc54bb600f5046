// The Windows host is built without the web server.
#include "commands.h"

namespace albummaker::host {

int RunServe(const Args&, std::ostream&, std::ostream& err) {
    err << "albummaker serve: not available on Windows; use the Linux build\n";
    return kExitFailure;
}

}  // namespace albummaker::host
