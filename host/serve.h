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
  std::size_t threads = 0;  // 0: one per processor core
  // Bytes a request line plus its headers may take.
  std::size_t maxHeadBytes = 16 * 1024;
  // Time a client has to deliver a whole request head once it started,
  // and to start its first request on a new connection.
  std::chrono::milliseconds headTimeout{5000};
  // How long a kept-alive connection may wait for its next request.
  std::chrono::milliseconds keepAliveTimeout{5000};
  // A whole response must be taken within this plus its length at the
  // lowest rate, so a slow reader loses its connection.
  std::chrono::milliseconds writeTimeout{5000};
  std::size_t minBytesPerSecond = 64 * 1024;
  std::size_t maxRequestsPerConnection = 100;
  // Connections open at once; past it a new one is closed at once.
  std::size_t maxConnections = 512;
  // Once a stop is asked for, responses in flight get this long to finish.
  std::chrono::milliseconds stopGrace{3000};
};

struct ServeConfig {
  std::string folder;  // UTF-8 path of the picture folder
  std::string bindAddress = "127.0.0.1";
  int port = 8080;  // 0 picks a free port
  ServeLimits limits;
  // When set, GET / answers this body instead of a rendered page (used to
  // measure the server alone).
  const std::string* fixedPage = nullptr;
};

// Serves until a stop is asked for (SIGINT or SIGTERM; on Windows Ctrl+C,
// Ctrl+Break or closing the console), then finishes the responses in flight
// within the grace period and returns. Prints "http://ADDR:PORT/" on `out`
// once it listens; the access log and diagnostics go to `err`. Returns an
// exit code.
int Serve(const ServeConfig& config, AlbumClient& client, std::ostream& out, std::ostream& err);

}  // namespace albummaker::host
