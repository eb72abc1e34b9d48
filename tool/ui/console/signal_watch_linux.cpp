#include <pthread.h>

#include "signal_watch.h"

namespace veltran {

sigset_t EndRequestSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                SIGXCPU, SIGXFSZ, SIGIO, SIGPWR, SIGSTKFLT}) {
    sigaddset(&set, s);
  }
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&set, s);
  return set;
}

SignalWatch::SignalWatch(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)), set_(EndRequestSignals()) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previousPipe_);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  thread_ = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch() {
  stopping_.store(true);
  pthread_kill(thread_.native_handle(), SIGHUP);
  thread_.join();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  sigaction(SIGPIPE, &previousPipe_, nullptr);
}

void SignalWatch::Watch() {
  for (;;) {
    int signal = 0;
    if (sigwait(&set_, &signal) != 0) continue;
    if (stopping_.load()) return;
    onSignal_(signal);
  }
}

}  // namespace veltran
