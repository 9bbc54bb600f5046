// Runs the albummaker host's web server as a child process and talks HTTP to
// it over plain sockets, so tests see exactly the bytes a client would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "read_file.h"
#include "temp_folder.h"

namespace serve_test {

using albummaker::testing::ReadFile;
using albummaker::testing::TempFolder;

void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// The server as a child process. It dies with the test process, and the
// destructor stops it (SIGTERM, then SIGKILL after a bound).
class ServerProcess {
 public:
  // Starts `albummaker serve ARGS --port 0` and waits (bounded) for the URL.
  explicit ServerProcess(const std::vector<std::string>& args,
                         std::chrono::milliseconds startTimeout = std::chrono::seconds(20));
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool Started() const { return port_ > 0; }
  int Port() const { return port_; }
  const std::string& Url() const { return url_; }
  pid_t Pid() const { return pid_; }
  // Sends SIGTERM and waits up to `timeout`; the exit status, or nothing
  // when it had to be killed or died of a signal. Once stopped, returns
  // the same result again.
  std::optional<int> Stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Resident memory of the server in KiB (from /proc), 0 when unknown.
  long ResidentKiB() const;
  // What the server wrote on standard error so far.
  std::string ErrorOutput() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  int port_ = 0;
  std::string url_;
  std::filesystem::path errPath_;
  TempFolder logDir_;
};

struct Response {
  int status = 0;                                   // 0: no (complete) response
  std::multimap<std::string, std::string> headers;  // names lower-case
  std::string body;
  std::string Header(const std::string& lowerName) const;
};

// One client connection to 127.0.0.1:port with bounded reads and writes.
class Connection {
 public:
  explicit Connection(int port, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // Sends all bytes; false when the peer stopped taking them.
  bool Send(const std::string& bytes);
  // Reads one response (its body unless `head`); status 0 on failure.
  Response Read(bool head = false);
  // True when the peer closes (end of stream or a reset) within the
  // time-out without sending anything more.
  bool PeerClosed();
  int Fd() const { return fd_; }

 private:
  bool Fill();
  int fd_ = -1;
  std::string buffer_;
};

// GET (or another method) over a fresh connection with "Connection: close".
Response Request(int port, const std::string& target, const std::string& method = "GET",
                 const std::string& extraHeaders = "");

// Percent-encodes every byte outside the unreserved set, as a browser would
// for a path segment.
std::string PercentEncodeBytes(const std::string& bytes);

}  // namespace serve_test
