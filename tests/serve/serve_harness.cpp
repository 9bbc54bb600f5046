#include "serve_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace serve_test {
namespace fs = std::filesystem;
using namespace std::chrono;

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

ServerProcess::ServerProcess(const std::vector<std::string>& args, milliseconds startTimeout) {
  errPath_ = logDir_.Path() / "stderr.txt";
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
  std::vector<std::string> argv = {AM_HOST_EXE, "serve"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back("--port");
  argv.push_back("0");
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const std::string errPath = errPath_.string();

  pid_ = ::fork();
  if (pid_ == 0) {
    // The server must not outlive the test.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errFd >= 0) ::dup2(errFd, STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  if (pid_ < 0) {
    ::close(pipeFds[0]);
    return;
  }
  std::string line;
  const auto deadline = steady_clock::now() + startTimeout;
  while (line.find('\n') == std::string::npos) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    pollfd p{pipeFds[0], POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char c[256];
    const ssize_t n = ::read(pipeFds[0], c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<size_t>(n));
  }
  ::close(pipeFds[0]);
  const size_t colon = line.rfind(':');
  if (line.starts_with("http://127.0.0.1:") && colon != std::string::npos) {
    url_ = line.substr(0, line.find('\n'));
    port_ = std::atoi(line.c_str() + colon + 1);
  }
}

ServerProcess::~ServerProcess() { Stop(); }

std::optional<int> ServerProcess::Stop(milliseconds timeout) {
  if (pid_ <= 0) return exitCode_;
  ::kill(pid_, SIGTERM);
  const auto deadline = steady_clock::now() + timeout;
  int status = 0;
  while (true) {
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      return std::nullopt;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  pid_ = -1;
  if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
  return exitCode_;
}

long ServerProcess::ResidentKiB() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    std::string rest;
    std::getline(status, rest);
  }
  return 0;
}

std::string ServerProcess::ErrorOutput() const { return ReadFile(errPath_); }

std::string Response::Header(const std::string& lowerName) const {
  const auto it = headers.find(lowerName);
  return it == headers.end() ? std::string() : it->second;
}

Connection::Connection(int port, milliseconds timeout) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  const timeval tv{static_cast<time_t>(timeout.count() / 1000),
                   static_cast<suseconds_t>((timeout.count() % 1000) * 1000)};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

bool Connection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool Connection::Fill() {
  char chunk[16384];
  while (true) {
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

bool Connection::PeerClosed() {
  if (!buffer_.empty()) return false;
  char c;
  while (true) {
    const ssize_t n = ::recv(fd_, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) return false;
    return n == 0 || errno == ECONNRESET || errno == EPIPE;
  }
}

Response Connection::Read(bool head) {
  Response r;
  size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) return r;
  }
  const std::string block = buffer_.substr(0, end);
  buffer_.erase(0, end + 4);
  size_t lineEnd = block.find("\r\n");
  const std::string statusLine = block.substr(0, lineEnd);
  if (!statusLine.starts_with("HTTP/1.") || statusLine.size() < 12) return r;
  const int status = std::atoi(statusLine.c_str() + 9);
  while (lineEnd != std::string::npos) {
    const size_t start = lineEnd + 2;
    lineEnd = block.find("\r\n", start);
    const std::string line = block.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (auto& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    r.headers.emplace(name, value);
  }
  size_t length = 0;
  if (!head && status != 304 && status != 204) {
    length = static_cast<size_t>(std::atoll(r.Header("content-length").c_str()));
  }
  while (buffer_.size() < length) {
    if (!Fill()) return r;
  }
  r.body = buffer_.substr(0, length);
  buffer_.erase(0, length);
  r.status = status;
  return r;
}

Response Request(int port, const std::string& target, const std::string& method, const std::string& extraHeaders) {
  Connection c(port);
  if (!c.Connected()) return {};
  if (!c.Send(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders +
              "\r\n")) {
    return {};
  }
  return c.Read(method == "HEAD");
}

std::string PercentEncodeBytes(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (std::isalnum(b) || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
      out += ch;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

}  // namespace serve_test
