// Levels of chips mode and of the whole output: gains in dB as factors on the frames, and the
// stereo placement of the PSG channels.
#pragma once

#include <cstdint>

#include "player/psg_output.h"
#include "vyx/stereo_frame.h"

// Where a PSG's channels A, B, C sound: all in the middle (as the board's PSGs), or A left,
// B centre, C right (abc), or A left, C centre, B right (acb).
enum class PsgStereo { kMono, kAbc, kAcb };

// 10^(db / 20); exactly 1 for 0 dB.
double GainFactor(double db);

// Adds from[i] x factor, rounded, to to[i] for count frames; a sum past the int32 range holds at
// its bound. The factor counts in steps of 2^-24 and holds at 256 (+48 dB).
void AddScaled(const StereoFrame* from, StereoFrame* to, int32_t count, double factor);

// The shares of the three channels for a layout: the side channels width (0 to 1) of the way
// from the centre to their side. Equal power: a channel moved from the centre keeps its
// loudness (left^2 + right^2 stays 2); in the centre it sounds on each side as in mono.
PsgOutput::Pan PsgPan(PsgStereo layout, double width);
