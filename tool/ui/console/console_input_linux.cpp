#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "console_input.h"

namespace veltran {

ConsoleInput::ConsoleInput(std::FILE* in, std::function<void()> lineArrived)
    : fd_(::fileno(in)), lineArrived_(std::move(lineArrived)) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) == 0) {
    stopRead_.Reset(ends[0]);
    stopWrite_.Reset(ends[1]);
  }
  reader_ = std::thread([this] { ReadLines(); });
}

ConsoleInput::~ConsoleInput() {
  if (stopWrite_) {
    const char stop = 0;
    [[maybe_unused]] const ssize_t written = ::write(stopWrite_.get(), &stop, 1);
  }
  reader_.join();
}

std::optional<std::string> ConsoleInput::TakeLine() {
  std::lock_guard lock(mutex_);
  if (lines_.empty()) return std::nullopt;
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  return line;
}

std::optional<std::string> ConsoleInput::WaitForLine() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !lines_.empty() || ended_ || stopWaiting_; });
  if (lines_.empty() || stopWaiting_) return std::nullopt;
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  return line;
}

void ConsoleInput::StopWaiting() {
  {
    std::lock_guard lock(mutex_);
    stopWaiting_ = true;
  }
  changed_.notify_all();
}

bool ConsoleInput::ended() const {
  std::lock_guard lock(mutex_);
  return ended_ && lines_.empty();
}

// Reads until end of input or until the owner stops it; the stop pipe ends a wait on a terminal
// that never sends anything.
void ConsoleInput::ReadLines() {
  std::string partial;
  char chunk[4096];
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
    if (::poll(fds, stopRead_ ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) return;
    const ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    partial.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
      std::string line = partial.substr(0, end);
      partial.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
      }
      changed_.notify_all();
      lineArrived_();
    }
  }
  const bool unterminatedLine = !partial.empty();
  {
    std::lock_guard lock(mutex_);
    if (unterminatedLine) lines_.push_back(partial);
    ended_ = true;
  }
  changed_.notify_all();
  if (unterminatedLine) lineArrived_();
  lineArrived_();
}

}  // namespace veltran
