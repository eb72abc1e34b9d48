#include "console_window.h"

#include <algorithm>

namespace veltran {

ConsoleWindow::ConsoleWindow(std::FILE* out, std::function<void()> waitForEnter,
                             EventLoop& loop)
    : out_(out), waitForEnter_(std::move(waitForEnter)), loop_(loop) {}

void ConsoleWindow::Line(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleWindow::SetFieldText(Field field, std::string_view text) {
  Line(std::string(FieldLabel(field)) + " " + std::string(text));
}

void ConsoleWindow::AddDriveListItem(std::string_view text) {
  items_.emplace_back(text);
  Line("Drive list : " + std::string(text));
}

void ConsoleWindow::SelectDriveListItem(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return;
  Line("Drive : " + items_[static_cast<std::size_t>(index)]);
}

void ConsoleWindow::ShowNocheckLabel() { Line("Nocheck Option"); }

void ConsoleWindow::SetProgress(int position) {
  Line("Progress: " + std::to_string(std::clamp(position, 0, 100)) + "%");
}

void ConsoleWindow::EnableTimer(TimerId timer, bool enabled) {
  loop_.EnableTimer(timer, enabled);
}

// A terminal has no button to disable and no pointer to capture.
void ConsoleWindow::EnableExitButton(bool) {}
void ConsoleWindow::SetBusy(bool) {}

void ConsoleWindow::ShowMessage(const MessageBoxSpec& box) { ShowBox(box.caption, box.text); }

void ConsoleWindow::ShowBox(std::string_view caption, std::string_view text) {
  Line(caption);
  Line(text);
  if (waitForEnter_) waitForEnter_();
}

void ConsoleWindow::Close() {
  closed_ = true;
  loop_.Quit();
}

}  // namespace veltran
