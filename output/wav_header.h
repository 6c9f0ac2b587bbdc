// The bytes of a WAV file before its samples: RIFF/WAVE, the fmt chunk (PCM for 16 and 24 bits,
// IEEE float for 32), a fact chunk for float, a LIST/INFO chunk with the song's tags when it has
// any, and the data chunk's header. Everything with its size comes before the samples, so that a
// target that cannot seek back (a pipe) still gets a complete file when the length is known.
#pragma once

#include <cstdint>
#include <vector>

#include "output/audio_format.h"

// The header of a stereo file of `frames` frames at `rate`.
std::vector<uint8_t> WavHeader(SampleFormat sample, uint32_t rate, uint64_t frames,
                               const AudioTags& tags);

// Frames such a file can hold (its sizes are 32-bit).
uint64_t WavMaxFrames(SampleFormat sample, const AudioTags& tags);
