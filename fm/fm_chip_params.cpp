#include "fm/fm_chip_params.h"

#include "fm/fm_convert.h"
#include "fm/fm_tables.h"

void FmChipParams::SetRatio(uint32_t value) {
  if (value == ratio) return;
  ratio = value;
  for (int dt2 = 0; dt2 < 4; ++dt2) {
    // ratio x factor first; exact in double for any ratio below 2^24.
    double scaled = static_cast<double>(value) * static_cast<double>(Dt2Factors[dt2]);
    for (int mul = 0; mul < 16; ++mul) {
      double f = mul == 0 ? 1.0 : 2.0 * mul;  // MUL 0 means one half
      // Absurd ratios (rates of a few Hz) would leave the 32-bit range: saturate.
      RatioMulTable[dt2][mul] = SaturateToInt32(f * scaled);
    }
  }
}
