// The four picture buttons' pointer, hover and press state, and the one-step picture changes that
// the pointer tracking makes. Drawing is left to the window: each step says which button now holds
// which picture.
#pragma once

#include <array>
#include <optional>

namespace veltran::win32 {

// In the fixed order the steps search them.
enum class ButtonId { kOpen, kStart, kAbout, kExit };
inline constexpr int kButtonCount = 4;

enum class Picture { kNone, kNormal, kHover };

struct ButtonState {
  bool pointerOver = false;
  bool hoverShown = true;  // so that the first restore step paints the normal picture
  bool pressed = false;
  Picture shown = Picture::kNone;
};

// The strip, relative to the window's top-left corner, where Timer2 leaves the pictures alone.
inline constexpr int kStripLeft = 8, kStripRight = 390, kStripTop = 8, kStripBottom = 32;

class ButtonStates {
 public:
  // Each returns the button whose picture changed, if any; at most one per step.
  std::optional<ButtonId> RestoreStep();
  std::optional<ButtonId> HoverStep();

  // The pointer moved over a button: restore one, then show one hover picture.
  std::array<std::optional<ButtonId>, 2> PointerOverButton(ButtonId button);
  // The pointer moved over the background.
  std::optional<ButtonId> PointerOverBackground();
  // A Timer2 tick with the pointer at (dx, dy) from the window's top-left corner.
  std::optional<ButtonId> Timer2Tick(int dx, int dy);

  void SetPressed(ButtonId button, bool pressed) { at(button).pressed = pressed; }
  const ButtonState& operator[](ButtonId button) const {
    return states_[static_cast<std::size_t>(button)];
  }

 private:
  ButtonState& at(ButtonId b) { return states_[static_cast<std::size_t>(b)]; }
  void ClearPointerOver();

  std::array<ButtonState, kButtonCount> states_{};
};

}  // namespace veltran::win32
