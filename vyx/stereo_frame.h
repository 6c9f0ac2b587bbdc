// The mixing frame: what the host's mixer hands a module and what every generator adds into.
#pragma once

#include <cstdint>

// One output sample pair. The host owns the array; generators add into it, never clear or clamp.
struct StereoFrame {
  int32_t left;
  int32_t right;
};
static_assert(sizeof(StereoFrame) == 8, "StereoFrame is two packed int32");
