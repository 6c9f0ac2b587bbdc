// gzip decompression for .vgz files (zlib).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// True when the bytes start with the gzip magic 1F 8B.
bool IsGzip(const std::vector<uint8_t>& bytes);

// Inflates a gzip stream of one or more members into *out. False with a reason in *error when
// the stream is corrupt (with the compressed offset) or inflates to more than max_bytes. A
// stream cut off before its end gives what it holds, with a warning in *warning.
bool Gunzip(const std::vector<uint8_t>& in, size_t max_bytes, std::vector<uint8_t>* out,
            std::string* error, std::string* warning);
