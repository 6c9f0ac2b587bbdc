#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>

#include "host/page_apply.h"
#include "vyx/vyx_page.h"

namespace {

// ", error N" for the thread's last error, or nothing when there is none.
std::string LastError() {
  const DWORD code = GetLastError();
  return code != 0 ? ", error " + std::to_string(code) : std::string();
}

// Delivers what is queued for the sheet and its page.
void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

// A real modeless property sheet holding the page, as the emulator's configuration dialog holds
// it; the controls are moved and clicked by messages, then the sheet applies.
bool ApplyThroughPage(VyxPage* page, HostPageSite* site, const int32_t volumes[8],
                      const int32_t outputs[8], int32_t use_romeo, std::string* why) {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
  InitCommonControlsEx(&classes);
  PROPSHEETPAGEA record{};
  static_assert(sizeof(PropSheetPageRecord) <= sizeof(PROPSHEETPAGEA), "record fits");
  if (!page->FillPageRecord(site, &record)) {
    *why = "the module's page gave no page record";
    return false;
  }
  HPROPSHEETPAGE sheet_page = CreatePropertySheetPageA(&record);
  if (sheet_page == nullptr) {
    *why = "the property-sheet page could not be created" + LastError();
    return false;
  }
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
  header.pszCaption = "Vyx";
  header.nPages = 1;
  header.phpage = &sheet_page;
  HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
  if (sheet == nullptr || sheet == reinterpret_cast<HWND>(-1)) {
    *why = "the configuration dialog could not be opened (is there a display?)" + LastError();
    return false;
  }
  Pump();
  HWND dialog = PropSheet_GetCurrentPageHwnd(sheet);
  if (dialog == nullptr) {
    DestroyWindow(sheet);
    *why = "the configuration dialog shows no page (the dialog template could not be loaded?)";
    return false;
  }
  for (int i = 0; i < 8; ++i) {
    HWND slider = GetDlgItem(dialog, kVolumeSliders[i]);
    if (SendMessageA(slider, TBM_GETPOS, 0, 0) == volumes[i]) continue;
    SendMessageA(slider, TBM_SETPOS, TRUE, volumes[i]);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, volumes[i]),
                 reinterpret_cast<LPARAM>(slider));
  }
  auto click = [&](int id, int32_t state) {
    if (IsDlgButtonChecked(dialog, id) != static_cast<UINT>(state)) {
      SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    }
  };
  for (int i = 0; i < 8; ++i) click(kOutputChecks[i], outputs[i]);
  click(kUseRomeoCheck, use_romeo);
  Pump();
  PropSheet_Apply(sheet);
  Pump();
  DestroyWindow(sheet);
  Pump();
  return true;
}
