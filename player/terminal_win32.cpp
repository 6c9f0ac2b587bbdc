#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "output/output_run.h"
#include "player/terminal.h"

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// A console has no background jobs.
bool OutputInForeground() { return true; }

namespace {

// What the signal handler needs: the console's mode to put back.
HANDLE g_input = nullptr;
DWORD g_saved_mode = 0;
volatile std::sig_atomic_t g_taken = 0;

void PutBack() {
  if (g_taken != 0) SetConsoleMode(g_input, g_saved_mode);
}

// A console has no background jobs: it is always the player's to take.
bool TakeAgain() { return true; }

constexpr TerminalSignals kTerminalSignals = {&PutBack, &TakeAgain};

// Keys typed and not read would reach the shell when the program ends.
extern "C" void DiscardTypedAtExit() {
  if (g_input != nullptr) FlushConsoleInputBuffer(g_input);
}

PlayKey KeyOf(const KEY_EVENT_RECORD& key) {
  const bool more = (key.dwControlKeyState & (SHIFT_PRESSED | LEFT_CTRL_PRESSED |
                                              RIGHT_CTRL_PRESSED)) != 0;
  switch (key.wVirtualKeyCode) {
    case VK_LEFT: return more ? PlayKey::kBackMore : PlayKey::kBack;
    case VK_RIGHT: return more ? PlayKey::kForwardMore : PlayKey::kForward;
    case VK_UP: return PlayKey::kForwardMore;
    case VK_DOWN: return PlayKey::kBackMore;
    case VK_ESCAPE: return PlayKey::kQuit;
    default: break;
  }
  switch (key.uChar.UnicodeChar) {
    case L' ': return PlayKey::kPause;
    case L'q': case L'Q': return PlayKey::kQuit;
    case L'n': case L'N': return PlayKey::kNext;
    case L'b': case L'B': return PlayKey::kPrevious;
    case L'+': case L'=': return PlayKey::kLouder;
    case L'-': case L'_': return PlayKey::kSofter;
    default: return PlayKey::kNone;
  }
}

}  // namespace

KeyInput::KeyInput() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
  g_input = input;
  g_saved_mode = mode;
  // The signals' handler puts the console back from the moment it is changed.
  g_taken = 1;
  SetTerminalSignals(&kTerminalSignals);
  // Keys as they are typed, unechoed; Ctrl-C still stops the player (processed input stays).
  if (!SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT))) {
    g_taken = 0;
    SetTerminalSignals(nullptr);
    return;
  }
  FlushConsoleInputBuffer(input);
  static const bool discard_at_exit = std::atexit(DiscardTypedAtExit) == 0;
  (void)discard_at_exit;
  active_ = true;
}

KeyInput::~KeyInput() {
  if (!active_) return;
  SetTerminalSignals(nullptr);
  PutBack();
  g_taken = 0;
}

PlayKey KeyInput::Read(int wait_ms) {
  if (!active_) {
    Sleep(static_cast<DWORD>(wait_ms));
    return PlayKey::kNone;
  }
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(wait_ms);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= until) return PlayKey::kNone;
    if (WaitForSingleObject(g_input, static_cast<DWORD>(until - now)) != WAIT_OBJECT_0) {
      return PlayKey::kNone;
    }
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputW(g_input, &record, 1, &read) || read == 0) return PlayKey::kNone;
    // Mouse, focus and size events, and key releases, are passed over.
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
      const PlayKey key = KeyOf(record.Event.KeyEvent);
      if (key != PlayKey::kNone) return key;
    }
  }
}
