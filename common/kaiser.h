// The Kaiser window that the band-limiting filters (the PSG's steps, the FM's rate converter)
// are shaped with.
#pragma once

#include <cmath>

// The modified Bessel function of order 0, by its series.
inline double BesselI0(double x) {
  double sum = 1;
  double term = 1;
  for (int k = 1; k < 40; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

// The window at r (-1 to 1 across its width), beta its shape, times BesselI0(beta) (a filter
// that scales its taps to a sum needs no more); 0 outside.
inline double KaiserWindowScaled(double r, double beta) {
  return std::fabs(r) < 1 ? BesselI0(beta * std::sqrt(1 - r * r)) : 0;
}
