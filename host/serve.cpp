#include "serve.h"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serve_pictures.h"
#include "text.h"
#include "url.h"

namespace albummaker::host {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Per worker thread: the connection loop and the request handlers of one
// connection always run on the same thread, so they talk through these.
thread_local bool tlShedConnection = false;     // queue full: refuse at once
thread_local bool tlCloseAfterResponse = false;  // request refused unread
thread_local Clock::time_point tlRequestStart;
thread_local bool tlRouted = false;              // the request reached Route
thread_local const std::string* tlPeer = nullptr;  // client address for the log

int PollOne(int fd, short events, milliseconds timeout) {
    pollfd p{fd, events, 0};
    while (true) {
        const int r = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, timeout.count())));
        if (r >= 0 || errno != EINTR) return r;
    }
}

// The connection as httplib reads and writes it: buffered, with every read
// bounded by a time-out and by what is left of the request head's budget,
// so a slow or endless head cannot hold memory or a worker for long.
class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, const ServeLimits& limits) : fd_(fd), limits_(limits) {
        const timeval tv{static_cast<time_t>(limits.writeTimeout.count() / 1000),
                         static_cast<suseconds_t>((limits.writeTimeout.count() % 1000) * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        // The library writes a response's head and body separately; without
        // this, a kept-alive client waits for its delayed acknowledgement.
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

    void BeginRequest() {
        budget_ = limits_.maxHeadBytes;
        deadline_ = Clock::now() + limits_.headTimeout;
    }
    bool HeadTooLong() const { return headTooLong_; }
    bool HasBuffered() const { return pos_ < len_; }

    bool is_readable() const override {
        return HasBuffered() || PollOne(fd_, POLLIN, limits_.readTimeout) > 0;
    }
    bool is_writable() const override { return PollOne(fd_, POLLOUT, limits_.writeTimeout) > 0; }

    ssize_t read(char* ptr, size_t size) override {
        if (size == 0) return 0;
        if (budget_ == 0) {
            headTooLong_ = true;
            return -1;
        }
        if (!HasBuffered()) {
            const ssize_t got = Fill();
            if (got <= 0) return got;
        }
        const size_t take = std::min({size, len_ - pos_, budget_});
        std::memcpy(ptr, buffer_ + pos_, take);
        pos_ += take;
        budget_ -= take;
        return static_cast<ssize_t>(take);
    }

    ssize_t write(const char* ptr, size_t size) override {
        size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::send(fd_, ptr + sent, size - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return -1;  // includes the send time-out
            sent += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(sent);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Describe(false, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Describe(true, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    ssize_t Fill() {
        const milliseconds left =
            std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
        const milliseconds wait = std::min(limits_.readTimeout, left);
        if (wait.count() <= 0 || PollOne(fd_, POLLIN, wait) <= 0) return -1;
        while (true) {
            const ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n;
            pos_ = 0;
            len_ = static_cast<size_t>(n);
            return n;
        }
    }

    void Describe(bool local, std::string& ip, int& port) const {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        auto* sa = reinterpret_cast<sockaddr*>(&addr);
        const int r = local ? ::getsockname(fd_, sa, &len) : ::getpeername(fd_, sa, &len);
        char text[64] = "";
        port = -1;
        if (r == 0 && addr.ss_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            port = ntohs(in->sin_port);
        } else if (r == 0 && addr.ss_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
            ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
            port = ntohs(in6->sin6_port);
        }
        ip = text;
    }

    int fd_;
    const ServeLimits& limits_;
    char buffer_[8192];
    size_t pos_ = 0;
    size_t len_ = 0;
    size_t budget_ = 0;
    Clock::time_point deadline_{};
    bool headTooLong_ = false;
};

// A fixed set of workers taking accepted connections in order. It publishes
// how many connections wait for a worker, so idle connections can give
// theirs up, and it refuses new connections once too many wait.
class WorkerPool final : public httplib::TaskQueue {
public:
    WorkerPool(size_t threads, size_t maxQueued, std::atomic<size_t>& queued)
        : maxQueued_(maxQueued), queued_(queued) {
        try {
            for (size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
        } catch (...) {
            shutdown();  // joins the workers already running
            throw;
        }
    }
    ~WorkerPool() override { shutdown(); }

    void enqueue(std::function<void()> job) override {
        {
            std::lock_guard lock(mutex_);
            if (!stopping_ && jobs_.size() < maxQueued_) {
                jobs_.push_back(std::move(job));
                queued_.store(jobs_.size());
                ready_.notify_one();
                return;
            }
        }
        // Over capacity: the job still runs here, so its socket is closed,
        // but it only sends a refusal.
        tlShedConnection = true;
        job();
        tlShedConnection = false;
    }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            stopping_ = true;
        }
        ready_.notify_all();
        for (auto& worker : workers_) worker.join();
    }

private:
    void Work() {
        while (true) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
                queued_.store(jobs_.size());
            }
            try {
                job();
            } catch (...) {
                // A job never throws (the server catches everything); keep the
                // worker alive regardless.
            }
        }
    }

    const size_t maxQueued_;
    std::atomic<size_t>& queued_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

std::string HtmlText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

void ShortPage(httplib::Response& res, int status, std::string_view title, std::string_view detail = {}) {
    res.status = status;
    std::string body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + HtmlText(title) +
                       "</title></head><body><h1>" + HtmlText(title) + "</h1>";
    if (!detail.empty()) body += "<p>" + HtmlText(detail) + "</p>";
    body += "</body></html>\n";
    res.set_content(body, "text/html; charset=utf-8");
}

void RefuseAndClose(httplib::Response& res, int status, std::string_view title) {
    tlCloseAfterResponse = true;
    res.set_header("Connection", "close");
    ShortPage(res, status, title);
}

std::string HttpDate(time_t when) {
    tm parts{};
    ::gmtime_r(&when, &parts);
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[parts.tm_wday % 7],
                  parts.tm_mday, kMonths[parts.tm_mon % 12], parts.tm_year + 1900, parts.tm_hour,
                  parts.tm_min, parts.tm_sec);
    return text;
}

// Parses the preferred HTTP date form; nothing for anything else.
std::optional<time_t> ParseHttpDate(const std::string& text) {
    tm parts{};
    const char* end = ::strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    if (end == nullptr || *end != '\0') return std::nullopt;
    return ::timegm(&parts);
}

bool EtagListMatches(std::string_view list, std::string_view etag) {
    while (!list.empty()) {
        const size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        if (item.starts_with("W/")) item.remove_prefix(2);
        if (item == "*" || item == etag) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

// Printable form of request text for the log: control and non-ASCII bytes
// escaped, long values cut.
std::string LogText(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 512)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    if (text.size() > 512) out += "...";
    return out;
}

class AlbumServer final : public httplib::Server {
public:
    AlbumServer(const ServeConfig& config, AlbumClient& client, std::ostream& err)
        : config_(config), client_(client), err_(err) {
        const ServeLimits& limits = config_.limits;
        // Accepting keep-alive only while fewer connections idle than there
        // are workers leaves a worker for a new client.
        idleLimit_ = limits.threads > 1 ? limits.threads - 1 : 1;
        new_task_queue = [this] {
            return new WorkerPool(config_.limits.threads, config_.limits.maxQueuedConnections, queued_);
        };
        set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            tlRouted = true;
            try {
                Route(req, res);
            } catch (...) {
                res = httplib::Response();
                ShortPage(res, 500, "Internal Server Error");
            }
            return HandlerResponse::Handled;
        });
        set_expect_100_continue_handler([](const httplib::Request&, httplib::Response& res) {
            RefuseAndClose(res, 417, "Expectation Failed");
            return 417;
        });
        set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            res = httplib::Response();
            ShortPage(res, 500, "Internal Server Error");
        });
        set_logger([this](const httplib::Request& req, const httplib::Response& res) { LogAccess(req, res); });
        // Time-outs and keep-alive are the connection loop's own (below);
        // should a body ever be read, none is accepted.
        set_payload_max_length(0);
    }

    // Binds and starts listening; the port, or -1.
    int Bind() {
        int port = config_.port;
        if (port == 0) {
            port = bind_to_any_port(config_.bindAddress);
        } else if (!bind_to_port(config_.bindAddress, port)) {
            port = -1;
        }
        if (port > 0) {
            // A deeper accept backlog than the library's default, so bursts
            // of clients are queued rather than refused.
            ::listen(svr_sock_.load(), 128);
        }
        return port;
    }

    // Ends the listening loop without the library's stop(), which would
    // also cut off responses still being sent; the workers then finish the
    // requests they hold and idle connections close.
    void BeginStopping() {
        stopping_.store(true);
        ::shutdown(svr_sock_.load(), SHUT_RDWR);
    }
    bool Stopping() const { return stopping_.load(); }

private:
    bool process_and_close_socket(socket_t sock) override {
        UniqueFd fd(sock);
        if (tlShedConnection) {
            static constexpr char kBusy[] =
                "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(fd.Get(), kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            return true;
        }
        bool unreadInput = true;
        try {
            unreadInput = Converse(fd.Get());
        } catch (...) {
            // Nothing more can be said on this connection; it is closed below.
        }
        if (unreadInput) CloseGracefully(fd.Get());
        return true;
    }

    // Serves the requests of one connection. True when it ends with input
    // left unread (a refused request), which a plain close would answer with
    // a reset that can destroy the response before the client reads it.
    bool Converse(int fd) {
        ConnectionStream stream(fd, config_.limits);
        std::string peer;
        int peerPort = -1;
        stream.get_remote_ip_and_port(peer, peerPort);
        tlPeer = &peer;
        struct PeerReset {
            ~PeerReset() { tlPeer = nullptr; }
        } peerReset;
        for (size_t served = 0;; ++served) {
            if (!WaitForRequest(fd, stream, served == 0)) return false;
            stream.BeginRequest();
            tlCloseAfterResponse = false;
            tlRouted = false;
            tlRequestStart = Clock::now();
            // Keep-alive is offered only while no other connection waits for
            // a worker; saying so in the response spares the client a reused
            // connection that is closed under it.
            const bool closeAfter = stopping_.load() || served + 1 >= config_.limits.maxRequestsPerConnection ||
                                    idle_.load() >= idleLimit_ || queued_.load() > 0;
            bool closedByClient = false;
            const bool ok = process_request(stream, closeAfter, closedByClient, [&](httplib::Request& req) {
                req.remote_addr = peer;
                req.remote_port = peerPort;
            });
            // A request the library turned down itself (unparsable, too
            // long) leaves the input in an unknown state: end the connection.
            if (tlCloseAfterResponse || !tlRouted || stream.HeadTooLong() || !ok) return true;
            if (closeAfter || closedByClient) return stream.HasBuffered();
        }
    }

    // Waits for the first byte of the next request. An idle connection gives
    // its worker up when another connection is waiting for one (a fresh one
    // after a short grace), when its time is up, or when the server stops.
    bool WaitForRequest(int fd, const ConnectionStream& stream, bool first) {
        if (stream.HasBuffered()) return true;
        const ServeLimits& limits = config_.limits;
        const milliseconds limit = first ? limits.readTimeout : limits.keepAliveTimeout;
        const auto start = Clock::now();
        struct IdleCount {
            std::atomic<size_t>& n;
            explicit IdleCount(std::atomic<size_t>& count) : n(count) { ++n; }
            ~IdleCount() { --n; }
        } idle(idle_);
        while (true) {
            if (stopping_.load()) return PollOne(fd, POLLIN, milliseconds(0)) > 0;
            const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
            if (elapsed >= limit) return false;
            const int r = PollOne(fd, POLLIN, std::min(milliseconds(50), limit - elapsed));
            if (r > 0) return true;
            if (r < 0) return false;
            if (queued_.load() > 0 && (!first || elapsed >= limits.firstRequestGrace)) return false;
        }
    }

    // Lets the peer read the last response before the socket goes, without
    // reading more than a little of whatever it still sends.
    static void CloseGracefully(int fd) {
        ::shutdown(fd, SHUT_WR);
        char sink[4096];
        size_t drained = 0;
        const auto until = Clock::now() + milliseconds(200);
        while (drained < 64 * 1024) {
            const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
            if (left.count() <= 0 || PollOne(fd, POLLIN, left) <= 0) break;
            const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
            if (n <= 0) break;
            drained += static_cast<size_t>(n);
        }
    }

    void Route(const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD") {
            res.set_header("Allow", "GET, HEAD");
            RefuseAndClose(res, 405, "Method Not Allowed");
            return;
        }
        // Bodies are refused before a byte of them is read.
        if (req.has_header("Transfer-Encoding") ||
            (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0")) {
            RefuseAndClose(res, 413, "Payload Too Large");
            return;
        }
        if (req.has_header("Content-Encoding")) {
            RefuseAndClose(res, 415, "Unsupported Media Type");
            return;
        }
        const std::string_view path = TargetPath(req.target);
        static constexpr std::string_view kPictures = "/pictures/";
        if (path == "/") {
            Page(req, res);
        } else if (path.starts_with(kPictures)) {
            Picture(req, res, path.substr(kPictures.size()));
        } else {
            ShortPage(res, 404, "Not Found");
        }
    }

    void Page(const httplib::Request& req, httplib::Response& res) {
        const std::optional<std::string_view> raw = FindQueryValue(req.target, "file");
        std::optional<std::u16string> file;
        if (raw) {
            file = DecodeAlbumLinkValue(*raw);
            if (!file) {
                ShortPage(res, 400, "Bad Request", "The file parameter is not a picture link of this album.");
                return;
            }
        }
        if (config_.fixedPage != nullptr) {
            res.set_content(*config_.fixedPage, "text/html; charset=utf-8");
            return;
        }
        const PageResult page = file ? client_.PageByText(*file) : client_.PageByIndex(0);
        if (!page.ok) {
            const std::string description = Utf16ToUtf8(page.error);
            Log("albummaker serve: page for \"" + LogText(req.target) + "\" failed: " + LogText(description));
            ShortPage(res, 500, "The album page could not be made", description);
            return;
        }
        res.set_content(Utf16ToUtf8(page.page), "text/html; charset=utf-8");
    }

    void Picture(const httplib::Request& req, httplib::Response& res, std::string_view encodedName) {
        const std::optional<std::string> name = PercentDecodeBytes(encodedName);
        std::optional<OpenedPicture> picture;
        if (name) picture = OpenAlbumPicture(config_.folder, *name);
        if (!picture) {
            ShortPage(res, 404, "Not Found");
            return;
        }
        const struct stat& info = picture->info;
        char etag[64];
        std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(info.st_size),
                      static_cast<unsigned long long>(info.st_mtim.tv_sec) * 1000000000ULL +
                          static_cast<unsigned long long>(info.st_mtim.tv_nsec));
        res.set_header("ETag", etag);
        res.set_header("Last-Modified", HttpDate(info.st_mtim.tv_sec));

        bool notModified = false;
        if (req.has_header("If-None-Match")) {
            notModified = EtagListMatches(req.get_header_value("If-None-Match"), etag);
        } else if (req.has_header("If-Modified-Since")) {
            const auto since = ParseHttpDate(req.get_header_value("If-Modified-Since"));
            notModified = since && info.st_mtim.tv_sec <= *since;
        }
        if (notModified) {
            res.status = 304;
            return;
        }
        res.status = 200;
        auto file = std::make_shared<UniqueFd>(std::move(picture->fd));
        res.set_content_provider(static_cast<size_t>(info.st_size), picture->contentType,
                                 [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                     char chunk[16 * 1024];
                                     const ssize_t n = ::pread(file->Get(), chunk, std::min(length, sizeof chunk),
                                                               static_cast<off_t>(offset));
                                     // A file that shrank meanwhile ends the connection.
                                     return n > 0 && sink.write(chunk, static_cast<size_t>(n));
                                 });
    }

    void LogAccess(const httplib::Request& req, const httplib::Response& res) {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - tlRequestStart).count();
        size_t bytes = 0;
        if (req.method != "HEAD") bytes = res.content_provider_ ? res.content_length_ : res.body.size();
        char tail[96];
        std::snprintf(tail, sizeof tail, "\" %d %zu %.1fms", res.status, bytes, ms);
        Log((tlPeer != nullptr ? *tlPeer : std::string("-")) + " \"" + LogText(req.method) + " " + LogText(req.target) + " " +
            LogText(req.version) + tail);
    }

    void Log(const std::string& line) {
        std::lock_guard lock(logMutex_);
        err_ << line << '\n';
        err_.flush();
    }

    const ServeConfig& config_;
    AlbumClient& client_;
    std::ostream& err_;
    std::mutex logMutex_;
    std::atomic<size_t> queued_{0};
    std::atomic<size_t> idle_{0};
    std::atomic<bool> stopping_{false};
    size_t idleLimit_ = 1;
};

// Blocks SIGINT and SIGTERM (and a private wake-up signal) in the calling
// thread and every thread it starts from now on. They stay blocked when
// serving ends: a late signal must not kill a process that is already on its
// way to a clean exit.
sigset_t BlockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

}  // namespace

int Serve(const ServeConfig& config, AlbumClient& client, std::ostream& out, std::ostream& err) {
    const sigset_t stopSignals = BlockStopSignals();
    AlbumServer server(config, client, err);
    const int port = server.Bind();
    if (port <= 0) {
        err << "albummaker serve: cannot listen on " << config.bindAddress << " port " << config.port << '\n';
        return 1;
    }

    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        // Signals that come while the server winds down are taken here too,
        // so none is left pending to kill the process on its way out.
        bool stopping = false;
        while (true) {
            int signal = 0;
            if (sigwait(&stopSignals, &signal) != 0 || signal == SIGUSR2) return;
            if (!stopping && !finished.load()) server.BeginStopping();
            stopping = true;
        }
    });

    const bool v6 = config.bindAddress.find(':') != std::string::npos;
    out << "http://" << (v6 ? "[" : "") << config.bindAddress << (v6 ? "]" : "") << ':' << port << "/\n";
    out.flush();

    // Returns once the listening socket is shut down and the workers have
    // finished the connections they hold.
    try {
        server.listen_after_bind();
    } catch (const std::exception& e) {
        err << "albummaker serve: " << e.what() << '\n';
    }
    finished.store(true);
    const bool asked = server.Stopping();
    // The stopper's cue to leave.
    pthread_kill(stopper.native_handle(), SIGUSR2);
    stopper.join();
    if (!asked) {
        err << "albummaker serve: accepting connections failed\n";
        return 1;
    }
    err << "albummaker serve: stopped\n";
    return 0;
}

}  // namespace albummaker::host

#if defined(__SANITIZE_THREAD__)
// The HTTP library comes compiled without ThreadSanitizer, so the sanitizer
// cannot see its inner synchronisation (such as the guarded start-up of its
// function-local statics) and reports the memory calls it makes as races.
// Only calls made from inside the library are exempt; our handlers and
// everything they touch stay checked.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libcpp-httplib.so\n"; }
#endif
