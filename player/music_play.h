// `vorla play`: a song to the speakers, with its title, author, position and a progress bar on
// a terminal (nothing when standard output is a pipe or a file). Ctrl-C stops it.
#pragma once

#include <string>

#include "music/music_log.h"
#include "player/music_render.h"

// How a song's playing ended.
enum class PlayEnd { kFinished, kNext, kPrevious, kQuit, kInterrupted };

// Plays the whole song; false with a reason in *error when the chips or the output cannot be
// had. *end tells how it ended (kInterrupted: the user stopped it with Ctrl-C).
bool PlayMusic(const MusicLog& log, const MusicRunOptions& options, PlayEnd* end,
               std::string* error);
