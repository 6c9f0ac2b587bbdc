// chips_measure's top-octave subcommand (bench/chips_measure_top.cpp).
#pragma once

// The FM converter's response above 20 kHz at 44.1 kHz against a very-high-quality one.
void MeasureTopOctave();
// The board's chip-sound converter (chip_sound/rate_converter.h), FM clock 3,993,600 Hz to
// 44.1 kHz: the level of sines at the chip's rate, in the pass band and folded from above it.
void MeasureChipSoundConverter();
