// chips_measure's top-octave subcommand (bench/chips_measure_top.cpp).
#pragma once

// The FM converter's response above 20 kHz at 44.1 kHz against a very-high-quality one.
void MeasureTopOctave();
