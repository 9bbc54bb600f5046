#include "serve.h"

#include "asio.h"  // first: see there

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "serve_http.h"
#include "serve_pictures.h"
#include "serve_platform.h"
#include "text.h"
#include "url.h"

namespace albummaker::host {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kReadChunk = 4096;
// After a last response, what the peer still sends is read (and dropped) for
// a moment, so that closing does not reset the connection before the peer
// has read that response.
constexpr std::size_t kDrainBytes = 64 * 1024;
constexpr milliseconds kDrainTime{200};
constexpr const char* kHtml = "text/html; charset=utf-8";

// A byte range of an open picture as a response body, read in pieces as it
// is sent, so a large picture costs one buffer per connection.
struct PictureBody {
  struct value_type {
    std::shared_ptr<PictureFile> file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
  };

  static std::uint64_t size(const value_type& body) { return body.length; }

  class writer {
   public:
    using const_buffers_type = asio::const_buffer;

    template <bool isRequest, class Fields>
    writer(const http::header<isRequest, Fields>&, const value_type& body) : body_(body) {}

    void init(beast::error_code& ec) {
      at_ = body_.offset;
      left_ = body_.length;
      ec = {};
    }

    boost::optional<std::pair<const_buffers_type, bool>> get(beast::error_code& ec) {
      ec = {};
      if (left_ == 0) return boost::none;
      if (!chunk_) chunk_ = std::make_unique<char[]>(kChunk);
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left_, kChunk));
      const std::ptrdiff_t got = body_.file->ReadAt(at_, chunk_.get(), want);
      if (got <= 0) {
        // A file that shrank meanwhile ends the connection.
        ec = make_error_code(beast::errc::io_error);
        return boost::none;
      }
      const auto n = static_cast<std::size_t>(got);
      at_ += n;
      left_ -= n;
      return std::make_pair(const_buffers_type(chunk_.get(), n), left_ > 0);
    }

   private:
    static constexpr std::size_t kChunk = 64 * 1024;
    const value_type& body_;
    std::unique_ptr<char[]> chunk_;
    std::uint64_t at_ = 0;
    std::uint64_t left_ = 0;
  };
};

std::string HtmlText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The small page of a refusal or an error; only fixed text of ours.
std::string ShortPage(http::status status, std::string_view detail = {}) {
  const std::string title = HtmlText(http::obsolete_reason(status));
  std::string body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
                     "</title></head><body><h1>" + title + "</h1>";
  if (!detail.empty()) body += "<p>" + HtmlText(detail) + "</p>";
  body += "</body></html>\n";
  return body;
}

class AlbumServer;

// One client connection. All its work runs on its own strand; Stop and Abort
// may be called from any thread.
class Connection final : public std::enable_shared_from_this<Connection> {
 public:
  Connection(AlbumServer& server, tcp::socket socket);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start();
  // Ends the connection once the response in flight (if any) is sent.
  void Stop();
  // Ends it now.
  void Abort();

 private:
  using Request = http::request<http::empty_body>;

  void WaitForRequest();
  void OnFirstBytes(const beast::error_code& ec, std::size_t n);
  void ReadHead();
  void Handle(std::size_t headLength);
  void Route(const Request& req, std::string_view target, bool head);
  void Page(std::string_view target, bool head);
  void Picture(const Request& req, std::u16string_view name, bool head);
  void Refuse(http::status status);
  void SendText(http::status status, std::string body, const char* type, bool head);
  void SendPicture(http::status status, std::uint64_t bodyBytes, bool head);
  template <class Body>
  void Send(http::response<Body>& res, std::uint64_t declared, std::uint64_t bodyBytes);
  void OnWritten(const beast::error_code& ec, std::uint64_t bodyBytes, int status);
  void CloseGracefully();
  void Drain();
  void Close();

  AlbumServer& server_;
  const ServeLimits& limits_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::string peer_;
  std::size_t served_ = 0;
  bool waiting_ = false;  // between responses: a stop ends the connection at once
  bool stopping_ = false;
  // The request being answered.
  unsigned version_ = 11;
  bool keepAlive_ = false;
  std::string logRequest_;
  std::string logNote_;
  Clock::time_point start_;
  http::response<http::string_body> text_;
  http::response<PictureBody> picture_;
  std::size_t drained_ = 0;
  bool resetOnClose_ = false;
};

class AlbumServer {
 public:
  AlbumServer(const ServeConfig& config, AlbumClient& client, std::ostream& err, asio::io_context& io)
      : config_(config),
        client_(client),
        err_(err),
        io_(io),
        acceptor_(asio::make_strand(io)),
        retry_(acceptor_.get_executor()) {}

  const ServeConfig& Config() const { return config_; }
  AlbumClient& Client() { return client_; }

  // Binds and listens; the port, or -1.
  int Listen() {
    beast::error_code ec;
    const asio::ip::address address = asio::ip::make_address(config_.bindAddress, ec);
    if (ec) return -1;
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(config_.port));
    acceptor_.open(endpoint.protocol(), ec);
    if (ec) return -1;
    try {
      PrepareListener(acceptor_);
    } catch (const std::exception&) {
      return -1;
    }
    acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return -1;
    const tcp::endpoint local = acceptor_.local_endpoint(ec);
    return ec ? -1 : local.port();
  }

  void Accept() {
    acceptor_.async_accept(asio::make_strand(io_), [this](const beast::error_code& ec, tcp::socket socket) {
      OnAccept(ec, std::move(socket));
    });
  }

  // No more connections; each open one ends after its response in flight.
  void BeginStop() {
    asio::post(acceptor_.get_executor(), [this] {
      beast::error_code ignored;
      acceptor_.close(ignored);
      retry_.cancel();
    });
    for (const auto& connection : Live(true)) connection->Stop();
  }

  // Whether every connection has ended by `until`.
  bool WaitForConnections(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    return ended_.wait_until(lock, until, [this] { return connections_.empty(); });
  }

  void AbortConnections() {
    for (const auto& connection : Live(false)) connection->Abort();
  }

  // A connection counts from here to its destruction; false (and it is
  // closed) when the server stops or is full.
  bool Register(const std::shared_ptr<Connection>& connection) {
    std::lock_guard lock(mutex_);
    if (stopping_ || connections_.size() >= config_.limits.maxConnections) return false;
    connections_.emplace(connection.get(), connection);
    return true;
  }

  void Unregister(Connection* connection) {
    std::lock_guard lock(mutex_);
    connections_.erase(connection);
    if (connections_.empty()) ended_.notify_all();
  }

  // One write per line: a unit-buffered stream would make one per piece.
  void Log(std::string line) {
    line += '\n';
    std::lock_guard lock(logMutex_);
    err_.write(line.data(), static_cast<std::streamsize>(line.size()));
    err_.flush();
  }

 private:
  void OnAccept(const beast::error_code& ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (ec) {
      // Out of descriptors, say: try again shortly rather than spin.
      retry_.expires_after(milliseconds(50));
      retry_.async_wait([this](const beast::error_code& e) {
        if (!e && acceptor_.is_open()) Accept();
      });
      return;
    }
    auto connection = std::make_shared<Connection>(*this, std::move(socket));
    if (Register(connection)) connection->Start();
    Accept();
  }

  std::vector<std::shared_ptr<Connection>> Live(bool stopping) {
    std::vector<std::shared_ptr<Connection>> live;
    std::lock_guard lock(mutex_);
    if (stopping) stopping_ = true;
    for (const auto& [key, weak] : connections_) {
      if (auto connection = weak.lock()) live.push_back(std::move(connection));
    }
    return live;
  }

  const ServeConfig& config_;
  AlbumClient& client_;
  std::ostream& err_;
  asio::io_context& io_;
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections_;
  bool stopping_ = false;
  std::mutex logMutex_;
};

Connection::Connection(AlbumServer& server, tcp::socket socket)
    : server_(server),
      limits_(server.Config().limits),
      stream_(std::move(socket)),
      buffer_(limits_.maxHeadBytes + kReadChunk) {
  beast::error_code ec;
  stream_.socket().set_option(tcp::no_delay(true), ec);
  const tcp::endpoint remote = stream_.socket().remote_endpoint(ec);
  peer_ = ec ? std::string("-") : remote.address().to_string();
}

Connection::~Connection() { server_.Unregister(this); }

void Connection::Start() {
  asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->WaitForRequest(); });
}

void Connection::Stop() {
  asio::post(stream_.get_executor(), [self = shared_from_this()] {
    self->stopping_ = true;
    if (self->waiting_) self->stream_.cancel();
  });
}

void Connection::Abort() {
  asio::post(stream_.get_executor(), [self = shared_from_this()] { self->Close(); });
}

void Connection::WaitForRequest() {
  if (stopping_) return CloseGracefully();
  waiting_ = true;
  if (buffer_.size() > 0) {
    // The next request came with the last one.
    start_ = Clock::now();
    stream_.expires_after(limits_.headTimeout);
    return ReadHead();
  }
  stream_.expires_after(served_ == 0 ? limits_.headTimeout : limits_.keepAliveTimeout);
  stream_.async_read_some(
      buffer_.prepare(kReadChunk),
      [self = shared_from_this()](const beast::error_code& ec, std::size_t n) { self->OnFirstBytes(ec, n); });
}

void Connection::OnFirstBytes(const beast::error_code& ec, std::size_t n) {
  // Idle too long, the peer left, or the server stops.
  if (ec || stopping_) return Close();
  buffer_.commit(n);
  start_ = Clock::now();
  stream_.expires_after(limits_.headTimeout);
  ReadHead();
}

// Reads until the buffer holds a whole head; the stream's deadline bounds the
// time, the head limit the bytes.
void Connection::ReadHead() {
  const std::string_view data(static_cast<const char*>(buffer_.data().data()), buffer_.size());
  const size_t end = data.find("\r\n\r\n");
  if (end != std::string_view::npos && end + 4 <= limits_.maxHeadBytes) return Handle(end + 4);
  if (data.size() >= limits_.maxHeadBytes) {
    waiting_ = false;
    logRequest_ = LogText(data.substr(0, std::min<size_t>(data.find("\r\n"), 64)));
    buffer_.clear();
    return Refuse(data.substr(0, limits_.maxHeadBytes).find("\r\n") == std::string_view::npos
                      ? http::status::uri_too_long
                      : http::status::request_header_fields_too_large);
  }
  const std::size_t room = std::min(kReadChunk, limits_.maxHeadBytes - data.size());
  stream_.async_read_some(buffer_.prepare(room),
                          [self = shared_from_this()](const beast::error_code& ec, std::size_t n) {
                            if (ec || self->stopping_) return self->Close();
                            self->buffer_.commit(n);
                            self->ReadHead();
                          });
}

void Connection::Handle(std::size_t headLength) {
  waiting_ = false;
  stream_.expires_never();
  logNote_.clear();
  version_ = 11;
  const std::string_view head(static_cast<const char*>(buffer_.data().data()), headLength);
  logRequest_ = LogText(head.substr(0, head.find("\r\n")));

  http::request_parser<http::empty_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(limits_.maxHeadBytes));
  parser.eager(false);
  // No body is ever read: one announced is refused below, after the method,
  // rather than by the parser's body limit before it.
  parser.body_limit(UINT64_MAX);
  beast::error_code ec;
  parser.put(asio::buffer(head.data(), head.size()), ec);
  const bool folded = HasFoldedField(head);
  buffer_.consume(headLength);
  if ((ec && ec != http::error::need_more) || !parser.is_header_done() || folded) {
    return Refuse(http::status::bad_request);
  }
  const Request& req = parser.get();
  if (req.version() == 10 || req.version() == 11) version_ = req.version();

  // Framing that two parsers could read differently is refused, so no one
  // in front of this server can be made to see another request.
  if (req.count(http::field::content_length) > 1 || req.count(http::field::transfer_encoding) > 0) {
    return Refuse(http::status::bad_request);
  }
  if (const auto length = req.find(http::field::content_length);
      length != req.end() && length->value().find_first_not_of("0123456789") != std::string_view::npos) {
    return Refuse(http::status::bad_request);  // a list, even of equal values
  }
  if (req.version() != 10 && req.version() != 11) return Refuse(http::status::http_version_not_supported);
  const std::size_t hosts = req.count(http::field::host);
  if (hosts > 1 || (req.version() == 11 && hosts == 0)) return Refuse(http::status::bad_request);
  // Nothing is served to a client that waits to be told to send a body.
  if (req.count(http::field::expect) > 0) return Refuse(http::status::expectation_failed);
  if (req.method() == http::verb::unknown) return Refuse(http::status::bad_request);
  const bool headOnly = req.method() == http::verb::head;
  if (req.method() != http::verb::get && !headOnly) return Refuse(http::status::method_not_allowed);
  // Bodies are refused before a byte of them is read.
  if (parser.content_length().value_or(0) > 0) return Refuse(http::status::payload_too_large);
  if (req.count(http::field::content_encoding) > 0) return Refuse(http::status::unsupported_media_type);
  const std::optional<std::string_view> target = OriginForm(req.target());
  if (!target) return Refuse(http::status::bad_request);

  keepAlive_ = req.keep_alive() && !stopping_ && served_ + 1 < limits_.maxRequestsPerConnection;
  try {
    Route(req, *target, headOnly);
  } catch (const std::exception&) {
    // Out of memory, most likely; the details stay here.
    logNote_ = "internal error";
    SendText(http::status::internal_server_error, ShortPage(http::status::internal_server_error), kHtml, headOnly);
  }
}

void Connection::Route(const Request& req, std::string_view target, bool head) {
  const std::string_view path = TargetPath(target);
  static constexpr std::string_view kPictures = "/pictures/";
  if (path == "/") return Page(target, head);
  if (path.starts_with(kPictures)) {
    const std::optional<std::string> name = PercentDecodeBytes(path.substr(kPictures.size()));
    return Picture(req, name ? Utf8ToUtf16(*name) : std::u16string(), head);
  }
  if (path == "/picture") {
    const std::optional<std::string_view> raw = FindQueryValue(target, "file");
    const std::optional<std::u16string> name = raw ? DecodeAlbumLinkValue(*raw) : std::nullopt;
    return Picture(req, name ? *name : std::u16string(), head);
  }
  SendText(http::status::not_found, ShortPage(http::status::not_found), kHtml, head);
}

void Connection::Page(std::string_view target, bool head) {
  const std::optional<std::string_view> raw = FindQueryValue(target, "file");
  std::optional<std::u16string> file;
  if (raw) {
    file = DecodeAlbumLinkValue(*raw);
    if (!file) {
      return SendText(http::status::bad_request,
                      ShortPage(http::status::bad_request, "The file parameter is not a picture link of this album."),
                      kHtml, head);
    }
  }
  if (const std::string* fixed = server_.Config().fixedPage) return SendText(http::status::ok, *fixed, kHtml, head);
  const PageResult page = file ? server_.Client().PageByText(*file) : server_.Client().PageByIndex(0);
  if (!page.ok) {
    // The engine's words (paths, error numbers) are for the log only.
    logNote_ = "engine: " + LogText(Utf16ToUtf8(page.error));
    return SendText(http::status::internal_server_error, ShortPage(http::status::internal_server_error), kHtml, head);
  }
  SendText(http::status::ok, Utf16ToUtf8(page.page), kHtml, head);
}

void Connection::Picture(const Request& req, std::u16string_view name, bool head) {
  std::shared_ptr<PictureFile> file;
  if (!name.empty()) file = OpenAlbumPicture(server_.Config().folder, name);
  if (!file) return SendText(http::status::not_found, ShortPage(http::status::not_found), kHtml, head);

  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(file->size),
                static_cast<unsigned long long>(file->modifiedVersion));
  const std::string modified = HttpDate(file->modifiedSeconds);
  picture_.set(http::field::etag, etag);
  picture_.set(http::field::last_modified, modified);
  picture_.set(http::field::accept_ranges, "bytes");

  bool notModified = false;
  if (const auto match = req.find(http::field::if_none_match); match != req.end()) {
    notModified = EtagListMatches(match->value(), etag);
  } else if (const auto since = req.find(http::field::if_modified_since); since != req.end()) {
    const auto time = ParseHttpDate(since->value());
    notModified = time && file->modifiedSeconds <= *time;
  }
  if (notModified) return SendPicture(http::status::not_modified, 0, head);

  picture_.set(http::field::content_type, file->contentType);
  picture_.body().file = file;
  picture_.body().offset = 0;
  picture_.body().length = file->size;
  RangeChoice range;
  if (const auto asked = req.find(http::field::range); asked != req.end()) {
    // A range of another version of the file is no use to the client.
    const auto ifRange = req.find(http::field::if_range);
    if (ifRange == req.end() || ifRange->value() == etag || ifRange->value() == modified) {
      range = ChooseRange(asked->value(), file->size);
    }
  }
  if (range.kind == RangeChoice::kUnsatisfiable) {
    text_.set(http::field::content_range, "bytes */" + std::to_string(file->size));
    return SendText(http::status::range_not_satisfiable, ShortPage(http::status::range_not_satisfiable), kHtml, head);
  }
  if (range.kind == RangeChoice::kPart) {
    picture_.set(http::field::content_range, "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                                                 "/" + std::to_string(file->size));
    picture_.body().offset = range.first;
    picture_.body().length = range.last - range.first + 1;
    return SendPicture(http::status::partial_content, picture_.body().length, head);
  }
  SendPicture(http::status::ok, file->size, head);
}

// A refused request leaves the connection in a state not worth reading on.
void Connection::Refuse(http::status status) {
  keepAlive_ = false;
  if (status == http::status::method_not_allowed) text_.set(http::field::allow, "GET, HEAD");
  SendText(status, ShortPage(status), kHtml, false);
}

// Sends text_ (fresh for each request; the caller may have set fields of its
// own) with this body.
void Connection::SendText(http::status status, std::string body, const char* type, bool head) {
  text_.result(status);
  text_.set(http::field::content_type, type);
  const std::uint64_t declared = body.size();
  text_.body() = head ? std::string() : std::move(body);
  Send(text_, declared, text_.body().size());
}

void Connection::SendPicture(http::status status, std::uint64_t bodyBytes, bool head) {
  picture_.result(status);
  if (head || status == http::status::not_modified) picture_.body().length = 0;
  if (picture_.body().length > 0) {
    // Should the response be cut off (too slow a reader, or the end of
    // the grace period), the peer gets a reset, so the kernel does not
    // go on holding the part of the picture it has not taken.
    beast::error_code ignored;
    stream_.socket().set_option(asio::socket_base::linger(true, 0), ignored);
    resetOnClose_ = true;
  }
  Send(picture_, bodyBytes, picture_.body().length);
}

template <class Body>
void Connection::Send(http::response<Body>& res, std::uint64_t declared, std::uint64_t bodyBytes) {
  res.version(version_);
  if (res.result() != http::status::not_modified) res.content_length(declared);
  res.keep_alive(keepAlive_);
  if (keepAlive_) {
    // Exactly what is enforced: the idle time-out and the requests left.
    const auto idle = std::chrono::duration_cast<std::chrono::seconds>(limits_.keepAliveTimeout).count();
    res.set(http::field::keep_alive, "timeout=" + std::to_string(idle) +
                                         ", max=" + std::to_string(limits_.maxRequestsPerConnection - served_ - 1));
  }
  // The whole response, not each write, must go out in time.
  const auto rate = std::max<std::size_t>(limits_.minBytesPerSecond, 1);
  stream_.expires_after(limits_.writeTimeout + milliseconds(bodyBytes * 1000 / rate));
  const int status = static_cast<int>(res.result_int());
  http::async_write(stream_, res,
                    [self = shared_from_this(), bodyBytes, status](const beast::error_code& ec, std::size_t) {
                      self->OnWritten(ec, bodyBytes, status);
                    });
}

void Connection::OnWritten(const beast::error_code& ec, std::uint64_t bodyBytes, int status) {
  const auto tenths = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count() / 100;
  char tail[96];
  std::snprintf(tail, sizeof tail, "\" %d %llu %lld.%lldms", status, static_cast<unsigned long long>(bodyBytes),
                static_cast<long long>(tenths / 10), static_cast<long long>(tenths % 10));
  std::string line;
  line.reserve(peer_.size() + logRequest_.size() + 128);
  line.append(peer_).append(" \"").append(logRequest_).append(tail);
  if (ec) line += ec == beast::error::timeout ? " (too slow: cut off)" : " (cut off)";
  if (!logNote_.empty()) line += " " + logNote_;
  server_.Log(std::move(line));
  text_ = {};
  picture_ = {};  // lets the file go
  if (ec) return Close();
  if (resetOnClose_) {
    beast::error_code ignored;
    stream_.socket().set_option(asio::socket_base::linger(false, 0), ignored);
    resetOnClose_ = false;
  }
  ++served_;
  if (!keepAlive_) return CloseGracefully();
  WaitForRequest();
}

void Connection::CloseGracefully() {
  waiting_ = false;
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  buffer_.clear();
  drained_ = 0;
  stream_.expires_after(kDrainTime);
  Drain();
}

void Connection::Drain() {
  stream_.async_read_some(buffer_.prepare(kReadChunk),
                          [self = shared_from_this()](const beast::error_code& ec, std::size_t n) {
                            self->drained_ += n;
                            if (ec || self->drained_ >= kDrainBytes) return self->Close();
                            self->Drain();
                          });
}

void Connection::Close() {
  waiting_ = false;
  stream_.close();
}

}  // namespace

int Serve(const ServeConfig& config, AlbumClient& client, std::ostream& out, std::ostream& err) {
  std::size_t threads = config.limits.threads;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());

  std::mutex mutex;
  std::condition_variable stopAsked;
  bool stop = false;
  // Before any thread starts, so the signals go only where they belong.
  StopRequests stops([&] {
    std::lock_guard lock(mutex);
    stop = true;
    stopAsked.notify_all();
  });

  asio::io_context io(static_cast<int>(threads));
  AlbumServer server(config, client, err, io);
  const int port = server.Listen();
  if (port <= 0) {
    err << "albummaker serve: cannot listen on " << config.bindAddress << " port " << config.port << '\n';
    return 1;
  }
  server.Accept();

  std::vector<std::thread> pool;
  for (std::size_t i = 0; i < threads; ++i) {
    pool.emplace_back([&io] {
      while (true) {
        try {
          io.run();
          return;
        } catch (...) {
          // A handler that threw lost its connection; the others go on.
        }
      }
    });
  }

  const bool v6 = config.bindAddress.find(':') != std::string::npos;
  out << "http://" << (v6 ? "[" : "") << config.bindAddress << (v6 ? "]" : "") << ':' << port << "/\n";
  out.flush();

  {
    std::unique_lock lock(mutex);
    stopAsked.wait(lock, [&] { return stop; });
  }
  server.BeginStop();
  if (!server.WaitForConnections(Clock::now() + config.limits.stopGrace)) server.AbortConnections();
  for (auto& thread : pool) thread.join();
  err << "albummaker serve: stopped\n";
  return 0;
}

}  // namespace albummaker::host
