#include <windows.h>

#include "settings/dialog_controls.h"

namespace {

// The controls of a real dialog window, reached through the dialog services.
class Win32DialogControls final : public DialogControls {
 public:
  HWND dialog = nullptr;

  intptr_t SendItemMessage(int id, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    return static_cast<intptr_t>(SendDlgItemMessageA(dialog, id, message, wparam, lparam));
  }
  void CheckButton(int id, uint32_t state) override { CheckDlgButton(dialog, id, state); }
  uint32_t IsButtonChecked(int id) override { return IsDlgButtonChecked(dialog, id); }
  void SetItemInt(int id, int32_t value) override {
    SetDlgItemInt(dialog, id, static_cast<UINT>(value), TRUE);
  }
  void SetItemText(int id, const char* text) override { SetDlgItemTextA(dialog, id, text); }
  void SetUserData(void* data) override {
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
  }
  void* GetUserData() override {
    return reinterpret_cast<void*>(GetWindowLongPtrA(dialog, DWLP_USER));
  }
};

}  // namespace

// The page's handler runs to completion on the dialog's thread without pumping messages, so one
// wrapper a thread, pointed at the window of the current call, serves every dialog.
DialogControls* ControlsOfDialog(void* dialog_window) {
  thread_local Win32DialogControls controls;
  controls.dialog = static_cast<HWND>(dialog_window);
  return &controls;
}
