// chips_measure's level subcommand (bench/chips_measure_levels.cpp):
//   levels  --gain's change of the peak and the RMS of an FM and a PSG tone; a VGM file's
//           volume modifier (read from its header) against 2^(v / 32); channel A of an AY
//           under --psg-stereo abc at several widths: each side against mono, left against
//           right, all in dB
#pragma once

#include <string>

#include "player/music_chips.h"

// Runs subcommand `what`; false when it is not one of these.
bool MeasureLevels(const std::string& what, const ChipsOptions& options);
