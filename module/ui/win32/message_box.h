#pragma once
// The product's message boxes. A box is modal: inside a host that is not
// ours, or on a screen nobody looks at, one without an owner of ours waits
// forever. So a box is shown only for a window of this process (owned by its
// top-level window); otherwise the text goes to the log.
#include <windows.h>

#include <string_view>

namespace vd::ui {

// Where the boxes that pass the owner rule go; tests install a recorder.
class IMessageBoxes {
 public:
  virtual int Show(HWND owner, std::u16string_view text, std::u16string_view caption, UINT flags) = 0;

 protected:
  ~IMessageBoxes() = default;
};

// Null puts the real message boxes back.
void SetMessageBoxes(IMessageBoxes* boxes) noexcept;

// The window a box for `window` would be owned by: its top-level window when
// it belongs to this process, else null (no box).
HWND OwnerFor(HWND window) noexcept;

// The button pressed, or 0 when nothing was shown.
int ShowText(HWND window, std::u16string_view text, std::u16string_view caption, UINT flags) noexcept;
// A string-table text with the caption "提示" (string 124).
int ShowMessage(HWND window, int stringId, UINT flags = MB_OK | MB_ICONINFORMATION) noexcept;

}  // namespace vd::ui
