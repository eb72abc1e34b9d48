// The main window as lines on a terminal: each field change, list entry, selection and box is
// printed as it happens.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/event_loop.h"
#include "app/window.h"
#include "console_json.h"
#include "console_outcome.h"

namespace veltran {

class ConsoleWindow final : public MainWindow {
 public:
  // `waitForEnter` is called after a box is printed; it returns once the user dismissed it.
  // `progressBar`: progress is drawn as one updating bar (a terminal), not a line per change.
  ConsoleWindow(std::FILE* out, std::function<void()> waitForEnter, EventLoop& loop,
                bool progressBar = false);

  // What the run's events tell of its outcome; the session marks the start attempts.
  OutcomeTracker& outcome() { return outcome_; }

  void SetFieldText(Field field, std::string_view text) override;
  void AddDriveListItem(std::string_view text) override;
  void SelectDriveListItem(int index) override;
  void ShowNocheckLabel() override;
  void SetProgress(int position) override;
  void EnableTimer(TimerId timer, bool enabled) override;
  void EnableExitButton(bool enabled) override;
  void SetBusy(bool busy) override;
  void ShowMessage(const MessageBoxSpec& box) override;
  void Close() override;
  void Post(std::function<void()> work) override { loop_.Post(std::move(work)); }

  bool closed() const { return closed_; }
  // From now on every event goes to `json` instead of being printed as text; boxes do not wait.
  void SetJson(ConsoleJson* json) { json_ = json; }
  // Prints a box that is not a message box (the About box) the same way.
  void ShowBox(std::string_view caption, std::string_view text);

 private:
  void Line(std::string_view text);
  void EndBar();

  std::FILE* out_;
  std::function<void()> waitForEnter_;
  std::vector<std::string> items_;
  EventLoop& loop_;
  bool progressBar_;
  bool barShown_ = false;
  int progress_ = 0;
  bool closed_ = false;
  OutcomeTracker outcome_;
  ConsoleJson* json_ = nullptr;
};

}  // namespace veltran
