// chips_measure's FM subcommands (chips_measure.cpp lists them).
#pragma once

#include "player/music_chips.h"

namespace chips_fm {

void Table(const ChipsOptions& options);
void Dt2(const ChipsOptions& options);
void Vibrato(const ChipsOptions& options);
void VibratoShape(const ChipsOptions& options);
void LfoNoise(const ChipsOptions& options);
void Envelope(const ChipsOptions& options);
void Attack(const ChipsOptions& options);
void Clip(const ChipsOptions& options);

}  // namespace chips_fm
