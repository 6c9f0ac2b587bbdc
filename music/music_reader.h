// Reading chip-music files: the bytes of a file, and the reader that a file's content picks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "music/music_log.h"

// Reads a whole file into bytes; false with "PATH: reason" in *error, also for a file of more
// than `limit` bytes (by default the largest music file taken).
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error,
                   size_t limit = 0);

// Reads a VGM, VGZ or S98 file, deciding by content (gzip or "Vgm " or "S98"). name is used in
// messages. False with "NAME: reason" (and an offset where there is one) in *error when nothing
// can be played.
bool ReadMusic(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
               std::string* error);
bool ReadMusicFile(const std::string& path, MusicLog* log, std::string* error);
// The same for the bytes of a whole file, which it takes (a gzip file's are dropped once
// inflated).
bool ReadMusicBytes(std::vector<uint8_t>* bytes, const std::string& name, MusicLog* log,
                    std::string* error);

// True when the bytes start as a music file does (gzip, "Vgm ", "S98").
bool IsMusicStart(const std::vector<uint8_t>& bytes);
// True when the file starts as a music file does or, when it cannot be read, its extension
// names one (.vgm, .vgz, .s98, any case).
bool IsMusicFile(const std::string& path);

// Files larger than this (also after inflating) are refused rather than loaded: a log of this
// size and its events stay well under 100 MB of memory.
inline constexpr size_t kMaxMusicBytes = 16u << 20;
