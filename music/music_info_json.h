// What `vorla info --json` prints about a music file: one JSON object on one line.
#pragma once

#include <string>

#include "music/music_log.h"

// The file as one line of JSON (ending in a newline): its path, format and version, chips and
// clocks, tag, length and loop, the writes played and those skipped, and the VGM modifiers.
// Text from the file that is not valid UTF-8 comes out with U+FFFD in place of the bad bytes.
std::string MusicInfoJson(const MusicLog& log, const std::string& path);
