// The album's web server: pages rendered through an AlbumClient, and the
// pictures of the album folder.
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

#include "album_client.h"

namespace albummaker::host {

struct ServeLimits {
    std::size_t threads = 8;
    // Bytes a request line plus its headers may take.
    std::size_t maxHeadBytes = 16 * 1024;
    // Time a client has to deliver a whole request head once it started.
    std::chrono::milliseconds headTimeout{5000};
    std::chrono::milliseconds readTimeout{5000};
    std::chrono::milliseconds writeTimeout{5000};
    // How long a connection may wait for its next request.
    std::chrono::milliseconds keepAliveTimeout{5000};
    // How long a fresh connection keeps a worker while others wait for one.
    std::chrono::milliseconds firstRequestGrace{250};
    std::size_t maxRequestsPerConnection = 100;
    // Connections waiting in the accept queue before new ones get a 503.
    std::size_t maxQueuedConnections = 1024;
};

struct ServeConfig {
    std::string folder;        // UTF-8 path of the picture folder
    std::string bindAddress = "127.0.0.1";
    int port = 8080;           // 0 picks a free port
    ServeLimits limits;
    // When set, GET / answers this body instead of a rendered page (used to
    // measure the server alone).
    const std::string* fixedPage = nullptr;
};

// Serves until the process gets SIGINT or SIGTERM, then finishes the requests
// in flight and returns. Prints "http://ADDR:PORT/" on `out` once it listens;
// the access log and diagnostics go to `err`. Returns an exit code.
int Serve(const ServeConfig& config, AlbumClient& client, std::ostream& out, std::ostream& err);

}  // namespace albummaker::host
