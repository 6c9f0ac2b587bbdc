// VGM register logs (version 1.00 to 1.72; a .vgz is inflated before it gets here).
//
// Header fields used (offsets in hex, little-endian, "rel" = relative to the field itself):
//   00 "Vgm "   04 EOF offset (rel)   08 version, BCD (0x171 = 1.71)
//   14 GD3 offset (rel)   18 total samples   1C loop offset (rel)   20 loop samples
//   30 YM2151 clock (1.10+; the 0x10 clock before): bit 30 two chips, bit 31 YM2164
//   34 data offset (rel, 1.50+; data at 0x40 before)
//   74 AY8910 clock (1.51+): bit 30 two chips   78 AY type   79 AY flags
//   7E loop base (1.60+)   7F loop modifier (1.51+)   BC extra header offset (rel, 1.70+)
// Header bytes at or past the data (or the extra header) count as zero.
//
// Commands played: 54 aa dd YM2151 write; A0 aa dd AY8910 write (aa bit 7: second chip);
// 61 nn nn / 62 / 63 / 7n waits; 66 end. Commands of other chips are skipped by their length
// and counted; 80-8F still wait n samples. Time is counted in samples at 44100 Hz.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "music/music_log.h"

bool ReadVgm(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
             std::string* error);
