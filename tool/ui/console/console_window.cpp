#include "console_window.h"

#include "drive/text.h"

namespace veltran {

ConsoleWindow::ConsoleWindow(std::FILE* out, std::function<void()> waitForEnter, EventLoop& loop,
                             bool progressBar)
    : out_(out), waitForEnter_(std::move(waitForEnter)), loop_(loop), progressBar_(progressBar) {}

void ConsoleWindow::Line(std::string_view text) {
  EndBar();
  const std::string shown = EscapeKeepingLineBreaks(text);
  std::fwrite(shown.data(), 1, shown.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleWindow::EndBar() {
  if (!barShown_) return;
  std::fputc('\n', out_);
  barShown_ = false;
}

void ConsoleWindow::SetFieldText(Field field, std::string_view text) {
  if (field == Field::kStatus) outcome_.StatusShown(text);
  if (json_) return json_->Field(FieldLabel(field), text);
  Line(std::string(FieldLabel(field)) + " " + std::string(text));
}

void ConsoleWindow::AddDriveListItem(std::string_view text) {
  items_.emplace_back(text);
  if (json_) return json_->ListEntry(text);
  Line("Drive list : " + std::string(text));
}

void ConsoleWindow::SelectDriveListItem(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return;
  if (json_) return json_->Selection(index, items_[static_cast<std::size_t>(index)]);
  Line("Drive : " + items_[static_cast<std::size_t>(index)]);
}

void ConsoleWindow::ShowNocheckLabel() {
  if (json_) return json_->NocheckLabel();
  Line("Nocheck Option");
}

void ConsoleWindow::SetProgress(int position) {
  position = std::clamp(position, 0, 100);
  if (position == progress_) return;
  progress_ = position;
  if (json_) return json_->Progress(position);
  if (!progressBar_) {
    Line("Progress: " + std::to_string(position) + "%");
    return;
  }
  constexpr int kWidth = 40;
  const int filled = position * kWidth / 100;
  std::fprintf(out_, "\rProgress: [%s%s] %3d%%",
               std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), position);
  std::fflush(out_);
  barShown_ = true;
}

void ConsoleWindow::EnableTimer(TimerId timer, bool enabled) { loop_.EnableTimer(timer, enabled); }

// A terminal has no button to disable and no pointer to capture; the busy cursor only marks the
// start of the write. The button is disabled while a start runs: the JSON outcome needs to know
// that one was asked for.
void ConsoleWindow::EnableExitButton(bool enabled) {
  if (json_ && !enabled) json_->StartRequested();
}
void ConsoleWindow::SetBusy(bool busy) {
  if (busy) outcome_.WriteStarted();
  if (json_ && busy) json_->WriteStarted();
  if (json_ && !busy) json_->WriteEnded();
}

void ConsoleWindow::ShowMessage(const MessageBoxSpec& box) {
  if (box.errorIcon) outcome_.ErrorBoxShown();
  ShowBox(box.caption, box.text);
}

void ConsoleWindow::ShowBox(std::string_view caption, std::string_view text) {
  if (json_) return json_->Box(caption, text);
  Line(caption);
  Line(text);
  if (waitForEnter_) waitForEnter_();
}

void ConsoleWindow::Close() {
  outcome_.Closed();
  EndBar();
  closed_ = true;
  loop_.Quit();
}

}  // namespace veltran
