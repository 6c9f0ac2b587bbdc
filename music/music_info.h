// What `vorla info` prints about a music file, and the one-line reports shared by the commands.
#pragma once

#include <string>
#include <vector>

#include "music/music_log.h"

// The header, the chips, the length and loop, the write counts and the tag, one item a line.
std::string FormatMusicInfo(const MusicLog& log);

// "skipped 1234 YM2612 writes" lines, then the warnings ("warning: ..."), then the notes.
std::vector<std::string> MusicReportLines(const MusicLog& log);
