// Numbers as hex text for messages: "0x1F4", and a byte as "0x0A".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

inline std::string Hex2(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}
