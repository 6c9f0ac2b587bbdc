// The configuration page's contract between host and module: the property-sheet page record,
// the window messages and notification header the page answers, the trackbar messages, the
// control ids of dialog template 101, and the dialog services the page uses.
//
// On Windows the dialog is a real window and the services are the platform's. Elsewhere the
// "dialog window" that the host passes to the page's dialog procedure is a pointer to the host's
// own DialogControls.
#pragma once

#include <cstdint>

#include "vyx/vyx.h"

class DialogControls {
 public:
  // SendDlgItemMessageA: the trackbar messages set-range, set-position and get-position.
  virtual intptr_t SendItemMessage(int id, uint32_t message, uintptr_t wparam,
                                   intptr_t lparam) = 0;
  // CheckDlgButton: the state is passed as it is (the page writes what the settings hold).
  virtual void CheckButton(int id, uint32_t state) = 0;
  // IsDlgButtonChecked
  virtual uint32_t IsButtonChecked(int id) = 0;
  // SetDlgItemInt, signed
  virtual void SetItemInt(int id, int32_t value) = 0;
  // SetDlgItemTextA
  virtual void SetItemText(int id, const char* text) = 0;
  // The dialog's user data (the page object), set at WM_INITDIALOG.
  virtual void SetUserData(void* data) = 0;
  virtual void* GetUserData() = 0;

 protected:
  ~DialogControls() = default;
};

// Window messages and notification codes the page answers.
inline constexpr uint32_t kWmNotify = 0x004E;
inline constexpr uint32_t kWmInitDialog = 0x0110;
inline constexpr uint32_t kWmCommand = 0x0111;
inline constexpr uint32_t kWmHScroll = 0x0114;
inline constexpr uint32_t kPsnSetActive = 0u - 200u;
inline constexpr uint32_t kPsnApply = 0u - 202u;
inline constexpr uint32_t kTbmGetPos = 1024;
inline constexpr uint32_t kTbmSetPos = 1029;
inline constexpr uint32_t kTbmSetRange = 1030;

// The notification header that WM_NOTIFY's second parameter points to.
struct NotifyHeader {
  void* from_window;
  uintptr_t from_id;
  uint32_t code;
};

// The platform's dialog procedure signature.
using DialogProcFn = intptr_t(VYXCALL*)(void* dialog_window, uint32_t message, uintptr_t wparam,
                                         intptr_t lparam);

// The platform's property-sheet page record in its 48-byte form (on 32-bit Windows).
struct PropSheetPageRecord {
  uint32_t size;
  uint32_t flags;
  void* instance;
  const char* template_id;
  void* icon;
  const char* title;
  DialogProcFn dialog_proc;
  intptr_t application_data;
  void* callback;
  uint32_t* ref_parent;
  const char* header_title;
  const char* header_subtitle;
};
static_assert(sizeof(void*) != 4 || sizeof(PropSheetPageRecord) == 48, "48-byte page record");

// The controls of dialog template 101, by settings position.
inline constexpr int kDialogTemplateId = 101;
inline constexpr int kVolumeSliders[8] = {1001, 1003, 1005, 1007, 1009, 1011, 1013, 1023};
inline constexpr int kVolumeLabels[8] = {1002, 1004, 1006, 1008, 1010, 1012, 1014, 1024};
inline constexpr int kOutputChecks[8] = {1015, 1019, 1016, 1020, 1017, 1021, 1018, 1022};
inline constexpr int kUseRomeoCheck = 1025;
inline constexpr int32_t kSliderMin = -40;
inline constexpr int32_t kSliderMax = 20;
