#include "fm/fm_state.h"

namespace {

constexpr uint8_t kMagic[4] = {'O', 'P', 'M', 'S'};

// FNV-1a, 32 bits: every change of a single byte changes the result.
uint32_t Fnv1a(const uint8_t* data, size_t size) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  return hash;
}

uint32_t ReadU32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

FmStateWriter::FmStateWriter() : bytes_(kFmStateHeader, 0) {}

void FmStateWriter::U32(uint32_t value) {
  for (int i = 0; i < 4; ++i) U8(value >> (8 * i));
}

void FmStateWriter::I64(int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  U32(static_cast<uint32_t>(bits));
  U32(static_cast<uint32_t>(bits >> 32));
}

std::vector<uint8_t> FmStateWriter::Finish() {
  for (int i = 0; i < 4; ++i) bytes_[i] = kMagic[i];
  PutU32(&bytes_[4], kFmStateVersion);
  PutU32(&bytes_[8], static_cast<uint32_t>(bytes_.size()));
  PutU32(&bytes_[12], Fnv1a(bytes_.data() + kFmStateHeader, bytes_.size() - kFmStateHeader));
  return std::move(bytes_);
}

FmStateReader::FmStateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {
  ok_ = data != nullptr && size >= kFmStateHeader && data[0] == kMagic[0] &&
        data[1] == kMagic[1] && data[2] == kMagic[2] && data[3] == kMagic[3] &&
        ReadU32(data + 4) == kFmStateVersion && ReadU32(data + 8) == size &&
        ReadU32(data + 12) == Fnv1a(data + kFmStateHeader, size - kFmStateHeader);
  pos_ = kFmStateHeader;
}

bool FmStateReader::Take(size_t n) {
  if (!ok_ || size_ - pos_ < n) {
    ok_ = false;
    return false;
  }
  return true;
}

uint32_t FmStateReader::U8(uint32_t lo, uint32_t hi) {
  if (!Take(1)) return lo;
  const uint32_t value = data_[pos_++];
  if (value < lo || value > hi) ok_ = false;
  return ok_ ? value : lo;
}

uint32_t FmStateReader::U32(uint32_t lo, uint32_t hi) {
  if (!Take(4)) return lo;
  const uint32_t value = ReadU32(data_ + pos_);
  pos_ += 4;
  if (value < lo || value > hi) ok_ = false;
  return ok_ ? value : lo;
}

int32_t FmStateReader::I32(int32_t lo, int32_t hi) {
  const auto value = static_cast<int32_t>(U32());
  if (value < lo || value > hi) ok_ = false;
  return ok_ ? value : lo;
}

int64_t FmStateReader::I64(int64_t lo, int64_t hi) {
  const uint64_t low = U32();
  const uint64_t high = U32();
  const auto value = static_cast<int64_t>(low | (high << 32));
  if (value < lo || value > hi) ok_ = false;
  return ok_ ? value : lo;
}

uint32_t FmStateReader::OneOf(uint32_t value, const uint8_t* allowed, int n) {
  for (int i = 0; i < n; ++i) {
    if (allowed[i] == value) return value;
  }
  ok_ = false;
  return allowed[0];
}
