// Standard input read on its own thread, one line at a time, so that the window thread's loop
// never blocks on the terminal. Each line is handed to the loop; a box that waits for Enter
// takes the next line itself.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "drive/file_descriptor_linux.h"

namespace veltran {

class ConsoleInput {
 public:
  // `lineArrived` is called on the reading thread after each line and once at end of input.
  ConsoleInput(std::FILE* in, std::function<void()> lineArrived);
  ~ConsoleInput();
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

  // The next line if one has arrived; nothing otherwise.
  std::optional<std::string> TakeLine();
  // Blocks until a line arrives; nothing at end of input or once StopWaiting was called.
  std::optional<std::string> WaitForLine();
  // Callable from any thread: a wait under way and every later one return at once (the program
  // was asked to end, so no box waits for Enter any more).
  void StopWaiting();
  bool ended() const;

 private:
  void ReadLines();

  int fd_;
  FileDescriptor stopRead_;  // both ends empty when the pipe could not be made
  FileDescriptor stopWrite_;
  std::function<void()> lineArrived_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool ended_ = false;
  bool stopWaiting_ = false;
  std::thread reader_;
};

}  // namespace veltran
