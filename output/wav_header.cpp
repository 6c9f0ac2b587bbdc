#include "output/wav_header.h"

#include <string>

#include "common/le_bytes.h"

namespace {

constexpr uint16_t kPcm = 1;
constexpr uint16_t kIeeeFloat = 3;

void Append(std::vector<uint8_t>* bytes, const char* id) {
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<uint8_t>(id[i]));
}

void Append32(std::vector<uint8_t>* bytes, uint32_t v) {
  bytes->resize(bytes->size() + 4);
  PutLe32(bytes->data() + bytes->size() - 4, v);
}

void Append16(std::vector<uint8_t>* bytes, uint16_t v) {
  bytes->resize(bytes->size() + 2);
  PutLe16(bytes->data() + bytes->size() - 2, v);
}

// One INFO entry: its text with the closing NUL, padded to an even size.
void AppendInfo(std::vector<uint8_t>* bytes, const char* id, const std::string& text) {
  if (text.empty()) return;
  Append(bytes, id);
  Append32(bytes, static_cast<uint32_t>(text.size() + 1));
  for (const char c : text) bytes->push_back(static_cast<uint8_t>(c));
  bytes->push_back(0);
  if (bytes->size() % 2 != 0) bytes->push_back(0);
}

// LIST/INFO: title, game (the product), author, date, system (as the comment) and this program.
std::vector<uint8_t> InfoList(const AudioTags& tags) {
  std::vector<uint8_t> info;
  if (tags.empty()) return info;
  Append(&info, "INFO");
  AppendInfo(&info, "INAM", tags.title);
  AppendInfo(&info, "IPRD", tags.game);
  AppendInfo(&info, "IART", tags.author);
  AppendInfo(&info, "ICRD", tags.date);
  AppendInfo(&info, "ICMT", tags.system);
  AppendInfo(&info, "ISFT", "vorla");
  std::vector<uint8_t> list;
  Append(&list, "LIST");
  Append32(&list, static_cast<uint32_t>(info.size()));
  for (const uint8_t b : info) list.push_back(b);
  return list;
}

}  // namespace

std::vector<uint8_t> WavHeader(SampleFormat sample, uint32_t rate, uint64_t frames,
                               const AudioTags& tags) {
  const uint32_t frame_bytes = WavFrameBytes(sample);
  const bool is_float = sample == SampleFormat::kF32;
  const uint64_t data = frames * frame_bytes;
  std::vector<uint8_t> h;
  Append(&h, "RIFF");
  Append32(&h, 0);  // filled in below
  Append(&h, "WAVE");
  Append(&h, "fmt ");
  Append32(&h, is_float ? 18 : 16);
  Append16(&h, is_float ? kIeeeFloat : kPcm);
  Append16(&h, 2);  // stereo
  Append32(&h, rate);
  Append32(&h, rate * frame_bytes);
  Append16(&h, static_cast<uint16_t>(frame_bytes));
  Append16(&h, static_cast<uint16_t>(frame_bytes * 4));  // bits a sample
  if (is_float) {
    Append16(&h, 0);  // no extension
    Append(&h, "fact");
    Append32(&h, 4);
    Append32(&h, static_cast<uint32_t>(frames));
  }
  const std::vector<uint8_t> list = InfoList(tags);
  for (const uint8_t b : list) h.push_back(b);
  Append(&h, "data");
  Append32(&h, static_cast<uint32_t>(data));
  PutLe32(&h[4], static_cast<uint32_t>(h.size() - 8 + data));
  return h;
}

uint64_t WavMaxFrames(SampleFormat sample, const AudioTags& tags) {
  const uint64_t header = WavHeader(sample, 44100, 0, tags).size();
  return (0xFFFFFFFFull - (header - 8)) / WavFrameBytes(sample);
}
