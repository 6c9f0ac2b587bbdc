#include "reglog/log_writer.h"

#include "common/le_bytes.h"

void RegisterLogWriter::TakeStream(std::vector<uint8_t>* out) {
  out->insert(out->end(), pending_.begin(), pending_.end());
  taken_ += pending_.size();
  pending_.clear();
}

void RegisterLogWriter::Put32(uint32_t value) {
  uint8_t bytes[4];
  PutLe32(bytes, value);
  for (uint8_t b : bytes) Put(b);
}

std::vector<uint8_t> WholeLogFile(RegisterLogWriter& writer) {
  std::vector<uint8_t> stream;
  writer.TakeStream(&stream);
  std::vector<uint8_t> file = writer.Header();
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}
