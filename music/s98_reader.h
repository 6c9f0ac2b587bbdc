// S98 register logs, versions 0 to 3. All header offsets are absolute file offsets.
//
//   00 "S98" + version character '0'..'3'
//   04 timer numerator (0 = 10)   08 timer denominator (version 2+, 0 = 1000): a sync lasts
//      numerator / denominator seconds
//   0C compression (versions 1-2; non-zero: deflated dump data, not supported)
//   10 song name (versions 1-2) or tag (version 3) offset, 0 = none
//   14 dump data offset           18 loop point offset, 0 = no loop
//   1C version 3: device count (0 = one OPNA); version 2: offset of compressed data
//   20 device records of 16 bytes: type, clock Hz, (PAN / reserved), (reserved / data offset);
//      version 2 lists end at a record of type 0. No record: one OPNA at 7987200 Hz.
//
// Device types: 1 PSG (YM2149), 15 PSG (AY-3-8910) and 5 OPM (YM2151) are played; the first
// OPM is the FM chip, the PSGs fill PSG 1 to 4 in order. Writes to any other device are skipped.
//
// Dump commands: 2n aa dd device n first port, 2n+1 aa dd second port (meaningless for OPM and
// PSG: skipped); FF one sync; FE n (7 bits a byte, low group first, bit 7 = more) n + 2
// syncs; FD end (continue at the loop point). 80-FC are reserved: the stream stops there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "music/music_log.h"

bool ReadS98(const std::vector<uint8_t>& bytes, const std::string& name, MusicLog* log,
             std::string* error);
