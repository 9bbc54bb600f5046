#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "serve_platform.h"

namespace albummaker::host {
namespace {

// The console calls its control handlers on a thread of its own; this is
// what they reach. A process has only one server.
std::mutex g_mutex;
std::condition_variable g_finished;
std::function<void()>* g_onStop = nullptr;  // null: serving is over
bool g_installed = false;

BOOL WINAPI ConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      // The process ends as soon as this returns: wait (bounded, the
      // system allows a few seconds) until serving has finished.
      std::unique_lock lock(g_mutex);
      if (g_onStop != nullptr) (*g_onStop)();
      g_finished.wait_for(lock, std::chrono::seconds(4), [] { return g_onStop == nullptr; });
      return TRUE;
    }
    default:
      return FALSE;
  }
  std::lock_guard lock(g_mutex);
  if (g_onStop != nullptr) (*g_onStop)();
  return TRUE;
}

}  // namespace

struct StopRequests::State {
  std::function<void()> onStop;
};

StopRequests::StopRequests(std::function<void()> onStop) : state_(std::make_unique<State>()) {
  state_->onStop = std::move(onStop);
  std::lock_guard lock(g_mutex);
  g_onStop = &state_->onStop;
  // Installed once and never removed, so that requests after serving are
  // swallowed rather than ending the process.
  if (!g_installed) g_installed = SetConsoleCtrlHandler(ConsoleControl, TRUE) != FALSE;
}

StopRequests::~StopRequests() {
  {
    std::lock_guard lock(g_mutex);
    g_onStop = nullptr;
  }
  g_finished.notify_all();
}

void PrepareListener(boost::asio::ip::tcp::acceptor& acceptor) {
  // Windows lets a second socket take over a port bound with
  // SO_REUSEADDR; a server claims its port for itself.
  BOOL on = TRUE;
  ::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
}

}  // namespace albummaker::host
