#include "button_states.h"

namespace veltran::win32 {

std::optional<ButtonId> ButtonStates::RestoreStep() {
  for (int i = 0; i < kButtonCount; ++i) {
    ButtonState& s = states_[static_cast<std::size_t>(i)];
    if (!s.pointerOver && s.hoverShown && !s.pressed) {
      s.shown = Picture::kNormal;
      s.hoverShown = false;
      return static_cast<ButtonId>(i);
    }
  }
  return std::nullopt;
}

std::optional<ButtonId> ButtonStates::HoverStep() {
  for (int i = 0; i < kButtonCount; ++i) {
    ButtonState& s = states_[static_cast<std::size_t>(i)];
    if (s.pointerOver && !s.hoverShown) {
      s.shown = Picture::kHover;
      s.hoverShown = true;
      return static_cast<ButtonId>(i);
    }
  }
  return std::nullopt;
}

void ButtonStates::ClearPointerOver() {
  for (ButtonState& s : states_) s.pointerOver = false;
}

std::array<std::optional<ButtonId>, 2> ButtonStates::PointerOverButton(ButtonId button) {
  ClearPointerOver();
  at(button).pointerOver = true;
  const std::optional<ButtonId> restored = RestoreStep();
  return {restored, HoverStep()};
}

std::optional<ButtonId> ButtonStates::PointerOverBackground() {
  ClearPointerOver();
  return RestoreStep();
}

std::optional<ButtonId> ButtonStates::Timer2Tick(int dx, int dy) {
  if (dx >= kStripLeft && dx <= kStripRight && dy >= kStripTop && dy <= kStripBottom) {
    return std::nullopt;
  }
  return PointerOverBackground();
}

}  // namespace veltran::win32
