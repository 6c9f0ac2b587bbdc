// The Kaiser window that the band-limiting filters are shaped with.
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

// The window at r (-1 to 1 across its width), beta its shape; 0 outside.
inline double KaiserWindow(double r, double beta) {
  return std::fabs(r) < 1 ? BesselI0(beta * std::sqrt(1 - r * r)) / BesselI0(beta) : 0;
}
