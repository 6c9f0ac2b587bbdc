// `vorla play`: a song to the speakers, with its title, author, position and a progress bar on
// a terminal (nothing when standard output is a pipe or a file). With a terminal on standard
// input its keys move the song: Space pauses, Left/Right go 5 s back/on, Down/Up (or Shift/Ctrl
// with Left/Right) a minute, n/b end it for the next/previous song, +/- set the volume, q or
// Esc stop. Ctrl-C stops it too.
#pragma once

#include <string>

#include "music/music_log.h"
#include "player/music_render.h"

// How a song's playing ended.
enum class PlayEnd { kFinished, kNext, kPrevious, kQuit, kInterrupted };

// Plays the song until its end or a key or Ctrl-C ends it, saying how in *end; false with a
// reason in *error when the chips or the output cannot be had.
bool PlayMusic(const MusicLog& log, const MusicRunOptions& options, PlayEnd* end,
               std::string* error);
