// The configuration page as the host's property sheet shows it: the module file loaded with
// LoadLibraryA, its dialog template 101 created for real, driven by messages; the version
// record read back; and a picture of the page for a person to look at.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vyx/vyx_page.h"
#include "tests/png_writer.h"
#include "tests/recording_host.h"
#include "tests/temp_dir.h"

namespace {

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;  // Wine's drive for the Unix root
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

std::string ProgramDir() {
  char buffer[MAX_PATH];
  std::string exe(buffer, GetModuleFileNameA(nullptr, buffer, MAX_PATH));
  return exe.substr(0, exe.find_last_of("\\/") + 1);
}

struct PageSite : HostPageSite {
  std::vector<std::string>* calls;
  void* VYXCALL GetDialogWindow() override { return nullptr; }
  int32_t VYXCALL GetPageCount() override { return 1; }
  void VYXCALL Applied() override { calls->push_back("Applied"); }
  void VYXCALL Activated(VyxPage*) override { calls->push_back("Activated"); }
  void VYXCALL Changed(void*) override { calls->push_back("Changed"); }
};

class PageWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    library_ = LoadLibraryA(WindowsPath(VORLA_MODULE).c_str());
    ASSERT_NE(library_, nullptr);
    auto create = reinterpret_cast<VyxCreateModuleFn>(
        reinterpret_cast<void*>(GetProcAddress(library_, "VyxCreateModule")));
    ASSERT_NE(create, nullptr);
    // The module reads and writes "VYX.INI" beside this program.
    ini_ = ProgramDir() + "VYX.INI";
    WriteAll(ini_, "[VORLA]\r\nVolume0=60\r\nVolume1=61\r\nVolume2=120\r\nVolume7=150\r\n"
                   "Output0=0\r\n");
    module_ = create(&host_);
    ASSERT_NE(module_, nullptr);
    ASSERT_NE(host_.page, nullptr);
    site_.calls = &host_.calls;
    ASSERT_TRUE(host_.page->FillPageRecord(&site_, &record_));
    host_.calls.clear();
  }
  void TearDown() override {
    if (module_ != nullptr) module_->Release();
    if (library_ != nullptr) FreeLibrary(library_);
    DeleteFileA(ini_.c_str());
  }
  std::string Label(HWND dialog, int id) {
    char text[32] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
  }
  LRESULT Notify(HWND dialog, UINT code) {
    NMHDR header{dialog, 0, code};
    return SendMessageA(dialog, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
  }

  HMODULE library_ = nullptr;
  std::string ini_;
  RecordingHost host_;
  PageSite site_;
  VyxModule* module_ = nullptr;
  PROPSHEETPAGEA record_{};
};

TEST_F(PageWin32Test, RecordNamesTheModulesTemplate) {
  EXPECT_EQ(record_.dwSize, 48u);
  EXPECT_EQ(record_.dwFlags, 0u);
  EXPECT_EQ(record_.hInstance, library_);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(record_.pszTemplate), 101u);
  EXPECT_NE(record_.pfnDlgProc, nullptr);
  HRSRC resource = FindResourceA(library_, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5));
  EXPECT_NE(resource, nullptr) << "dialog template 101";
}

TEST_F(PageWin32Test, RealDialogFollowsThePagesRules) {
  // The template is a child dialog: a hidden window stands for the property sheet.
  HWND parent = CreateWindowExA(0, "STATIC", "sheet", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                                nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  HWND dialog = CreateDialogParamA(record_.hInstance, record_.pszTemplate, parent,
                                   record_.pfnDlgProc, reinterpret_cast<LPARAM>(&record_));
  ASSERT_NE(dialog, nullptr);
  char caption[16] = {};
  GetWindowTextA(dialog, caption, sizeof caption);
  EXPECT_STREQ(caption, "VOD");

  // Right after init the labels read "0"; the sliders hold the stored values within -40..20.
  for (int id : kVolumeLabels) EXPECT_EQ(Label(dialog, id), "0") << id;
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1001, TBM_GETPOS, 0, 0), -40);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1023, TBM_GETPOS, 0, 0), 20) << "+50 shown at +20";
  EXPECT_EQ(IsDlgButtonChecked(dialog, 1015), 0u);
  EXPECT_EQ(IsDlgButtonChecked(dialog, 1019), 1u);
  EXPECT_TRUE(host_.calls.empty());

  Notify(dialog, PSN_SETACTIVE);
  EXPECT_EQ(Label(dialog, 1002), "Mute");
  EXPECT_EQ(Label(dialog, 1004), "-39");
  EXPECT_EQ(Label(dialog, 1006), "20");
  EXPECT_EQ(Label(dialog, 1008), "0");
  EXPECT_EQ(host_.calls, std::vector<std::string>{"Activated"});
  host_.calls.clear();

  // A slider moved by the user: labels follow, the sheet is told, the board is not.
  HWND slider = GetDlgItem(dialog, 1007);
  SendMessageA(slider, TBM_SETPOS, TRUE, -12);
  SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, -12),
               reinterpret_cast<LPARAM>(slider));
  EXPECT_EQ(Label(dialog, 1008), "-12");
  SendMessageA(GetDlgItem(dialog, 1025), BM_CLICK, 0, 0);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"Changed", "Changed"}));

  // Commands that are not clicks, or come from other controls, are not the page's.
  host_.calls.clear();
  EXPECT_EQ(SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1015, 1), 0), 0);
  EXPECT_EQ(SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1001, 0), 0), 0);
  EXPECT_TRUE(host_.calls.empty());

  // Apply: one ApplySettings (seen as the device's mixer Update) and then one Applied.
  EXPECT_EQ(Notify(dialog, PSN_APPLY), 0);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"Update", "Applied"}));
  DestroyWindow(dialog);
  DestroyWindow(parent);

  module_->Release();
  module_ = nullptr;
  const std::string ini = ReadAll(ini_);
  EXPECT_NE(ini.find("Volume7=120"), std::string::npos) << "+50 is stored as +20 after apply";
  EXPECT_NE(ini.find("Volume3=88"), std::string::npos);
  EXPECT_NE(ini.find("USE_ROMEO=1"), std::string::npos);
}

TEST_F(PageWin32Test, PropertySheetShowsThePageAndAPictureIsSaved) {
  HPROPSHEETPAGE page = CreatePropertySheetPageA(&record_);
  ASSERT_NE(page, nullptr);
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS;
  header.pszCaption = "Vyx";
  header.nPages = 1;
  header.phpage = &page;
  HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
  ASSERT_NE(sheet, nullptr);
  ShowWindow(sheet, SW_SHOW);
  MSG message;
  for (int i = 0; i < 50; ++i) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(10);
  }
  HWND dialog = PropSheet_GetCurrentPageHwnd(sheet);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(Label(dialog, 1002), "Mute") << "the sheet activated the page";
  EXPECT_EQ(host_.calls, std::vector<std::string>{"Activated"});
  HWND tabs = PropSheet_GetTabControl(sheet);
  char tab_text[16] = {};
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = tab_text;
  item.cchTextMax = sizeof tab_text;
  SendMessageA(tabs, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_STREQ(tab_text, "VOD") << "the template's caption is the tab title";
  int controls = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    ++controls;
  }
  EXPECT_EQ(controls, 35);

  // The sheet as a person would see it.
  RECT rect;
  GetWindowRect(sheet, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4);
  GetDIBits(memory, bitmap, 0, height, bgra.data(), &info, DIB_RGB_COLORS);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < bgra.size(); i += 4) {
    rgb.insert(rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
  }
  EXPECT_TRUE(WritePng(ProgramDir() + "vod_page.png", width, height, rgb));
  DestroyWindow(sheet);
}

TEST(ModuleFileWin32, CreateAndReleaseManyTimes) {
  HMODULE library = LoadLibraryA(WindowsPath(VORLA_MODULE).c_str());
  ASSERT_NE(library, nullptr);
  auto create = reinterpret_cast<VyxCreateModuleFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "VyxCreateModule")));
  ASSERT_NE(create, nullptr);
  const std::string ini = ProgramDir() + "VYX.INI";
  for (int round = 0; round < 100; ++round) {
    RecordingHost host;
    VyxModule* module = create(&host);
    ASSERT_NE(module, nullptr);
    host.PortOut(0x86, 0x02);
    ASSERT_EQ(host.events.size(), 1u);
    module->Release();
    ASSERT_TRUE(host.events.empty()) << "no event outlives the board";
    ASSERT_EQ(host.device, nullptr);
  }
  EXPECT_NE(ReadAll(ini).find("USE_ROMEO=0"), std::string::npos);
  DeleteFileA(ini.c_str());
  FreeLibrary(library);
}

TEST(ModuleFileWin32, VersionRecord) {
  const std::string path = WindowsPath(VORLA_MODULE);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
  auto value = [&](const char* name) {
    char* text = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\041104b0\\") + name;
    if (!VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) {
      return std::string("(missing)");
    }
    return std::string(text);
  };
  EXPECT_EQ(value("FileVersion"), "2, 0, 1, 1");
  EXPECT_EQ(value("ProductVersion"), "2, 0, 1, 1");
  EXPECT_EQ(value("FileDescription"), "Vorla");
  EXPECT_EQ(value("InternalName"), "Vorla");
  EXPECT_EQ(value("ProductName"), "Vorla");
  EXPECT_EQ(value("OriginalFilename"), "Vorla.vyx");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010001u);
}

}  // namespace
