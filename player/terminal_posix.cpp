#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "output/output_run.h"
#include "player/terminal.h"

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool OutputInForeground() { return tcgetpgrp(STDOUT_FILENO) == getpgrp(); }

namespace {

// The rest of an escape sequence follows its Esc at once; a lone Esc is the key itself.
constexpr int kSequenceWaitMs = 40;

// What the signal handler needs: the settings to put back and those of playing.
termios g_saved{};
termios g_playing{};
volatile sig_atomic_t g_taken = 0;
volatile sig_atomic_t g_ever_taken = 0;   // keys were read: what is left of them is ours

// Drops the keys typed and not read. Only in the foreground: a background process changing the
// terminal would be stopped for it, and the keys are the foreground's then.
void DiscardTyped() {
  if (g_ever_taken != 0 && tcgetpgrp(STDIN_FILENO) == getpgrp()) tcflush(STDIN_FILENO, TCIFLUSH);
}

extern "C" void DiscardTypedAtExit() { DiscardTyped(); }

// A stop signal or Ctrl-Z: the terminal as it was.
void PutBack() {
  if (g_taken != 0) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  DiscardTyped();
}

// Back in the foreground: keys as they are typed again. (Continued in the background, the
// terminal is not this process's to set.)
bool TakeAgain() {
  if (g_taken == 0 || tcgetpgrp(STDIN_FILENO) != getpgrp()) return false;
  tcsetattr(STDIN_FILENO, TCSANOW, &g_playing);
  return true;
}

constexpr TerminalSignals kTerminalSignals = {&PutBack, &TakeAgain};

// One byte of input, waiting up to wait_ms; -1 when none came.
int ReadByte(int wait_ms) {
  pollfd in{STDIN_FILENO, POLLIN, 0};
  if (poll(&in, 1, wait_ms) <= 0) return -1;
  if ((in.revents & POLLIN) == 0) {
    // A terminal that hung up answers at once: wait as asked all the same.
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
    return -1;
  }
  unsigned char byte = 0;
  return read(STDIN_FILENO, &byte, 1) == 1 ? byte : -1;
}

// The key of an escape sequence whose Esc was read: an arrow (with Shift, Ctrl or Alt: a
// minute's step), a lone Esc, or nothing the player knows.
PlayKey ReadSequence() {
  const int introducer = ReadByte(kSequenceWaitMs);
  if (introducer < 0) return PlayKey::kQuit;
  if (introducer != '[' && introducer != 'O') return PlayKey::kNone;  // Alt with a key
  // Parameters ("1;2"), then the final byte.
  std::string parameters;
  int final = -1;
  while ((final = ReadByte(kSequenceWaitMs)) >= 0 && final >= 0x20 && final < 0x40) {
    if (parameters.size() < 16) parameters += static_cast<char>(final);
  }
  const size_t semicolon = parameters.find(';');
  const bool modified = semicolon != std::string::npos && semicolon + 1 < parameters.size() &&
                        parameters.substr(semicolon + 1) != "1";
  switch (final) {
    case 'A': return PlayKey::kForwardMore;
    case 'B': return PlayKey::kBackMore;
    case 'C': return modified ? PlayKey::kForwardMore : PlayKey::kForward;
    case 'D': return modified ? PlayKey::kBackMore : PlayKey::kBack;
    // rxvt's Shift (ESC [ c) and Ctrl (ESC O c) arrows.
    case 'a': return PlayKey::kForwardMore;
    case 'b': return PlayKey::kBackMore;
    case 'c': return PlayKey::kForwardMore;
    case 'd': return PlayKey::kBackMore;
    default: return PlayKey::kNone;
  }
}

}  // namespace

KeyInput::KeyInput() {
  // A terminal that is standard input, with this process in its foreground (a background one
  // would be stopped for changing its settings).
  if (isatty(STDIN_FILENO) == 0 || tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
  termios settings{};
  if (tcgetattr(STDIN_FILENO, &settings) != 0) return;
  g_saved = settings;
  // Keys as they are typed, unechoed; Ctrl-C still stops the player (ISIG stays).
  settings.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  g_playing = settings;
  // The signals' handler puts the terminal back from the moment it is changed.
  g_taken = 1;
  SetTerminalSignals(&kTerminalSignals);
  if (tcsetattr(STDIN_FILENO, TCSANOW, &settings) != 0) {
    g_taken = 0;
    SetTerminalSignals(nullptr);
    return;
  }
  if (g_ever_taken == 0) std::atexit(DiscardTypedAtExit);
  g_ever_taken = 1;
  active_ = true;
}

KeyInput::~KeyInput() {
  if (!active_) return;
  SetTerminalSignals(nullptr);
  if (g_taken != 0) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
  g_taken = 0;
}

PlayKey KeyInput::Read(int wait_ms) {
  // In the background a read would stop the process (SIGTTIN): the song plays on unheeded.
  if (!active_ || tcgetpgrp(STDIN_FILENO) != getpgrp()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
    return PlayKey::kNone;
  }
  // Continued in the background (`bg`) and then brought back (`fg`), the terminal may come back
  // as the shell keeps it, after the continue signal's handler ran: keys as typed again.
  termios now{};
  if (tcgetattr(STDIN_FILENO, &now) == 0 &&
      (now.c_lflag & (ICANON | ECHO)) != (g_playing.c_lflag & (ICANON | ECHO))) {
    TakeTerminalAgain();
  }
  switch (ReadByte(wait_ms)) {
    case -1: return PlayKey::kNone;
    case 0x1B: return ReadSequence();
    case ' ': return PlayKey::kPause;
    case 'q': case 'Q': return PlayKey::kQuit;
    case 'n': case 'N': return PlayKey::kNext;
    case 'b': case 'B': return PlayKey::kPrevious;
    case '+': case '=': return PlayKey::kLouder;
    case '-': case '_': return PlayKey::kSofter;
    default: return PlayKey::kNone;
  }
}
