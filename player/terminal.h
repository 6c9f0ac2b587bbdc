// The terminal: whether standard output is one (a live status line) or a pipe or file (nothing),
// and the keys typed on it while a song plays.
#pragma once

bool StdoutIsTerminal();
// Columns of the terminal on standard output, read afresh (it may have been resized); 0 when it
// does not say.
int TerminalColumns();
// Whether the terminal on standard output is this process's to draw on: its process group is the
// terminal's foreground one. After Ctrl-Z and `bg` it is not: the shell's prompt is there.
bool OutputInForeground();

// What a key asks of the player.
enum class PlayKey {
  kNone,
  kPause,       // Space
  kBack,        // Left: 5 s back
  kForward,     // Right: 5 s on
  kBackMore,    // Down, Shift/Ctrl + Left: 1 min back
  kForwardMore, // Up, Shift/Ctrl + Right: 1 min on
  kNext,        // n
  kPrevious,    // b
  kLouder,      // +
  kSofter,      // -
  kQuit,        // q, Esc
};

// The keys of the terminal on standard input, one at a time, unechoed and without waiting for
// Enter. Without a terminal on standard input it reads nothing and leaves everything as it was.
// The terminal's own settings come back when the object goes, and when a stop signal (SIGINT,
// SIGTERM, SIGHUP, SIGQUIT) arrives before that: the program's signal handler (output_run.h)
// puts them back first and then does what it does. Ctrl-Z gives the shell its terminal as it was; back in the foreground, keys are read
// again. Keys typed and never read (after q, or for a song that ended) are discarded when the
// program ends or is stopped by a signal, so that they do not reach the shell; not when one
// song of a list ends, as the next song reads the keys typed ahead for it.
class KeyInput {
 public:
  KeyInput();
  ~KeyInput();
  KeyInput(const KeyInput&) = delete;
  KeyInput& operator=(const KeyInput&) = delete;

  // Whether keys are read (standard input is a terminal and took the settings).
  bool active() const { return active_; }
  // The next key typed, waiting up to wait_ms for one; kNone when none came (or keys are not
  // read: it then just waits).
  PlayKey Read(int wait_ms);

 private:
  bool active_ = false;
};
