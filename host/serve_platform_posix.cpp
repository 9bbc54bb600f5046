#include <pthread.h>
#include <signal.h>

#include <thread>

#include "serve_platform.h"

namespace albummaker::host {

// SIGINT and SIGTERM (and a private wake-up signal) are blocked in the
// calling thread and every thread it starts from now on, and taken by one
// thread with sigwait. They stay blocked when serving ends: a late signal
// must not kill a process that is already on its way to a clean exit.
struct StopRequests::State {
  sigset_t signals;
  std::thread waiter;
};

StopRequests::StopRequests(std::function<void()> onStop) : state_(std::make_unique<State>()) {
  sigemptyset(&state_->signals);
  sigaddset(&state_->signals, SIGINT);
  sigaddset(&state_->signals, SIGTERM);
  sigaddset(&state_->signals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &state_->signals, nullptr);
  state_->waiter = std::thread([signals = state_->signals, onStop = std::move(onStop)] {
    while (true) {
      int signal = 0;
      if (sigwait(&signals, &signal) != 0 || signal == SIGUSR2) return;
      onStop();
    }
  });
}

StopRequests::~StopRequests() {
  // The waiter's cue to leave.
  pthread_kill(state_->waiter.native_handle(), SIGUSR2);
  state_->waiter.join();
}

void PrepareListener(boost::asio::ip::tcp::acceptor& acceptor) {
  // A restarted server can listen again while old connections linger.
  acceptor.set_option(boost::asio::socket_base::reuse_address(true));
}

}  // namespace albummaker::host
