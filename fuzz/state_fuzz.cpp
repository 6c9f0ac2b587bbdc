// The board's saved states as untrusted input (a state comes from a file on disk). The first
// byte picks how the rest is used:
//   even: the bytes as a whole state, as the reference host hands a file to the board;
//   odd:  (offset, value) pairs patched into a good state of a board at play, every checksum
//         made to fit again, so that the fields' range checks are reached, not only the sums.
// A state that is taken must play, and save and load again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/le_bytes.h"
#include "common/state_bytes.h"
#include "module/board_device.h"

namespace {

constexpr uint32_t kRate = 44100;

BoardDevice& PlayingBoard() {
  static BoardDevice* board = [] {
    auto* b = new BoardDevice("VRLA");
    b->Init(nullptr, 0x105, nullptr);
    b->SetSaveStates(true);
    b->SetRate(kRate);
    return b;
  }();
  return *board;
}

// A good state: every part making sound (tone, PSG envelope and noise, FM under the LFO).
const std::vector<uint8_t>& GoodState() {
  static const std::vector<uint8_t> state = [] {
    BoardDevice& b = PlayingBoard();
    const DeviceDescriptor& d = b.GetDescriptor();
    auto out = [&](uint32_t port, uint32_t value) {  // as a bus routes it, by the table
      for (const Connector* c = BoardDevice::ConnectorTable(); c->port != 0; ++c) {
        if (c->port == port && c->kind == kConnectorOut) d.out_handlers[c->index](&b, port, value);
      }
    };
    const uint32_t writes[][2] = {
        {0x0F, 0x36}, {0x0C, 0x00}, {0x0C, 0x10}, {0x02, 0x08}, {0xA0, 7},    {0xA1, 0x2E},
        {0xA0, 6},    {0xA1, 5},    {0xA0, 8},    {0xA1, 0x10}, {0xA0, 9},    {0xA1, 12},
        {0xA0, 13},   {0xA1, 14},   {0x88, 0x20}, {0x89, 0xC7}, {0x88, 0x38}, {0x89, 0x63},
        {0x88, 0x19}, {0x89, 0xC0}, {0x88, 0x1B}, {0x89, 0x02}, {0x88, 0x18}, {0x89, 0xC0},
        {0x88, 0x60}, {0x89, 0x00}, {0x88, 0x80}, {0x89, 0x1F}, {0x88, 0x08}, {0x89, 0x08}};
    for (const auto& w : writes) out(w[0], w[1]);
    std::vector<StereoFrame> frames(500);
    b.Mix(frames.data(), 500);
    return b.StateBytes();
  }();
  return state;
}

void Seal(std::vector<uint8_t>& bytes, size_t at, size_t size) {
  if (size < 16 || at + size > bytes.size()) return;
  const uint32_t sum = StateChecksum(bytes.data() + at, size - 4);
  PutLe32(&bytes[at + size - 4], sum);
}

// Walks the board's layout and seals each part's state, then the whole.
void SealAll(std::vector<uint8_t>& s) {
  size_t pos = StateWriter::kHeaderSize + 4;  // the rate
  auto part = [&] {
    if (pos + 4 > s.size()) return;
    const uint32_t n = Le32(&s[pos]);
    pos += 4;
    if (n <= s.size() - pos) Seal(s, pos, n);
    pos += n;
  };
  part();  // the tone generator
  for (int i = 0; i < 4; ++i) {
    pos += 4;  // the latch
    part();
  }
  pos += 4 + 256 + 8 + 2;  // the FM latch and registers
  part();  // the FM chip
  part();  // the control block
  Seal(s, 0, s.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  BoardDevice& board = PlayingBoard();
  const std::vector<uint8_t>& good = GoodState();
  std::vector<uint8_t> state;
  if ((data[0] & 1) == 0) {
    state.assign(data + 1, data + size);
  } else {
    state = good;
    for (size_t i = 1; i + 2 < size; i += 3) {
      const size_t at = (size_t{data[i]} | size_t{data[i + 1]} << 8) % state.size();
      state[at] = data[i + 2];
    }
    SealAll(state);
  }
  if (board.LoadStateBytes(state.data(), state.size())) {
    std::vector<StereoFrame> frames(257);
    board.Mix(frames.data(), 257);
    board.Mix(frames.data(), 1);
    const std::vector<uint8_t> again = board.StateBytes();
    if (!board.LoadStateBytes(again.data(), again.size())) __builtin_trap();
  }
  // Back to the good state for the next input.
  board.LoadStateBytes(good.data(), good.size());
  return 0;
}
