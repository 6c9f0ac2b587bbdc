// chips_measure's PSG subcommands (bench/chips_measure_psg.cpp):
//   psgsquare    AY squares' odd harmonics to 16 kHz against 1/n, and noise bands against the
//                held bits' sinc^2, at 44,100 Hz: largest difference in dB
//   psgnoise     how long noise period 1 runs before it repeats, with register 6 written and
//                never written, in noise steps
//   psgoutput    volume-register playback against a tone square (level and sign), and how a
//                held level falls away
//   psgenvelope  a repeating envelope's pitch at envelope periods 0 and 1
//   psglevels    a YM2149 file's fixed levels 1-14 against 15, against the chip's measured ones
//   psgperiod    when a tone toggles after a period below its counter is written
//   psgcounters  tone, noise and envelope after a silent stretch (and the noise with no channel
//                listening) against counters that run on; a period's two bytes at one instant
#pragma once

#include <string>

#include "player/music_chips.h"

// Runs subcommand `what`; false when it is not one of these.
bool MeasurePsg(const std::string& what, const ChipsOptions& options);
