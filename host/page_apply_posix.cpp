#include "host/memory_dialog.h"
#include "host/page_apply.h"
#include "vyx/vyx_page.h"

// Without a window system the dialog is an in-memory control set that the page drives through
// the same dialog procedure and messages.
bool ApplyThroughPage(VyxPage* page, HostPageSite* site, const int32_t volumes[8],
                      const int32_t outputs[8], int32_t use_romeo, std::string* why) {
  PropSheetPageRecord record{};
  if (!page->FillPageRecord(site, &record) || record.dialog_proc == nullptr) {
    *why = "the module's page gave no page record with a dialog procedure";
    return false;
  }
  MemoryDialog dialog;
  void* window = static_cast<DialogControls*>(&dialog);
  record.dialog_proc(window, kWmInitDialog, 0, reinterpret_cast<intptr_t>(&record));
  NotifyHeader activate{window, 0, kPsnSetActive};
  record.dialog_proc(window, kWmNotify, 0, reinterpret_cast<intptr_t>(&activate));
  for (int i = 0; i < 8; ++i) {
    if (dialog.slider(kVolumeSliders[i]).position != volumes[i]) {
      dialog.MoveSlider(kVolumeSliders[i], volumes[i]);
      record.dialog_proc(window, kWmHScroll, 0, 0);
    }
  }
  auto click = [&](int id, int32_t state) {
    if (dialog.IsButtonChecked(id) == static_cast<uint32_t>(state)) return;
    dialog.CheckButton(id, static_cast<uint32_t>(state));
    record.dialog_proc(window, kWmCommand, static_cast<uintptr_t>(id), 0);
  };
  for (int i = 0; i < 8; ++i) click(kOutputChecks[i], outputs[i]);
  click(kUseRomeoCheck, use_romeo);
  NotifyHeader apply{window, 0, kPsnApply};
  record.dialog_proc(window, kWmNotify, 0, reinterpret_cast<intptr_t>(&apply));
  return true;
}
