#include "reglog/log_writer.h"

void RegisterLogWriter::TakeStream(std::vector<uint8_t>* out) {
  out->insert(out->end(), pending_.begin(), pending_.end());
  taken_ += pending_.size();
  pending_.clear();
}

void RegisterLogWriter::Put32(uint32_t value) {
  for (int i = 0; i < 4; ++i) Put(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> WholeLogFile(RegisterLogWriter& writer) {
  std::vector<uint8_t> stream;
  writer.TakeStream(&stream);
  std::vector<uint8_t> file = writer.Header();
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}
