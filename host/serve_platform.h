// What the album server does differently on each platform, apart from the
// picture files: how a stop is asked for, and how the listening socket is set
// up. Bound in serve_platform_posix.cpp and serve_platform_win32.cpp.
#pragma once

#include <functional>
#include <memory>

#include "asio.h"

namespace albummaker::host {

// While it lives, each stop request calls `onStop` on a thread of its own:
// SIGINT and SIGTERM on POSIX; Ctrl+C, Ctrl+Break and closing the console on
// Windows. Make it before starting any other thread (on POSIX the signals are
// blocked in the threads started afterwards). Requests that come after it is
// gone are swallowed, so the process still ends the way it chose.
class StopRequests {
 public:
  explicit StopRequests(std::function<void()> onStop);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Socket options of the listening socket, set before it binds.
void PrepareListener(boost::asio::ip::tcp::acceptor& acceptor);

}  // namespace albummaker::host
