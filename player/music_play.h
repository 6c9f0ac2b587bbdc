// `vorla play`: a song to the speakers, with its title, author, position and a progress bar on
// a terminal (nothing when standard output is a pipe or a file). Ctrl-C stops it.
#pragma once

#include <string>

#include "music/music_log.h"
#include "player/music_render.h"

// Plays the whole song; false with a reason in *error when the chips or the output cannot be
// had. *interrupted tells whether the user stopped it.
bool PlayMusic(const MusicLog& log, const MusicRunOptions& options, bool* interrupted,
               std::string* error);
