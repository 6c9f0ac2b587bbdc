#include "host/demo_script.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr double kToneClock = 3993600.0;
constexpr int kRate = 44100;
constexpr int kStepFrames = kRate / 8;  // an eighth note at 120 beats a minute... in 8ths of a second

class ScriptWriter {
 public:
  void Line(const char* format, int a = 0, int b = 0) {
    char line[64];
    std::snprintf(line, sizeof line, format, a, b);
    text_ += line;
    text_ += '\n';
  }
  void Comment(const char* text) {
    text_ += "# ";
    text_ += text;
    text_ += '\n';
  }
  void Out(int port, int value) { Line("out 0x%02x 0x%02x", port, value & 0xFF); }
  void Wait(int frames) { Line("wait %d", frames); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// MIDI note number to frequency.
double NoteHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Sets tone counter `voice` (low byte then high byte) to sound `note`, or silences it (0).
void ToneNote(ScriptWriter& w, int voice, int note) {
  int count = note > 0 ? static_cast<int>(kToneClock / NoteHz(note) + 0.5) : 0;
  w.Out(0x0C + voice, count & 0xFF);
  w.Out(0x0C + voice, (count >> 8) & 0xFF);
}

}  // namespace

std::string DemoScript() {
  ScriptWriter w;
  w.Comment("Vorla demo: the interval-timer tone voices play a short canon.");
  w.Line("rate %d", kRate);
  // Counters 0-2: access low byte then high byte (mode bits are ignored by the board).
  w.Out(0x0F, 0x36);
  w.Out(0x0F, 0x76);
  w.Out(0x0F, 0xB6);
  w.Out(0x02, 0x08);

  // Melody, bass and an answering voice, in eighth notes (0 = rest).
  static const int kMelody[] = {72, 74, 76, 72, 72, 74, 76, 72, 76, 77, 79, 0, 76, 77, 79, 0,
                                79, 81, 79, 77, 76, 72, 0, 0, 72, 67, 72, 0, 72, 67, 72, 0};
  static const int kBass[] = {48, 0, 55, 0, 48, 0, 55, 0, 48, 0, 53, 0, 48, 0, 55, 0,
                              53, 0, 55, 0, 48, 0, 43, 0, 48, 0, 43, 0, 48, 0, 48, 0};
  constexpr int kSteps = sizeof kMelody / sizeof kMelody[0];
  for (int step = 0; step < kSteps + 8; ++step) {
    if (step < kSteps) ToneNote(w, 0, kMelody[step]);
    if (step < kSteps) ToneNote(w, 1, kBass[step]);
    // The third voice answers the melody two bars later, an octave lower.
    int echo = step - 8;
    if (echo >= 0 && echo < kSteps) ToneNote(w, 2, kMelody[echo] ? kMelody[echo] - 12 : 0);
    if (step == kSteps) {
      ToneNote(w, 0, 0);
      ToneNote(w, 1, 0);
    }
    w.Wait(kStepFrames);
  }
  ToneNote(w, 2, 0);
  w.Out(0x02, 0x00);
  w.Wait(kRate / 4);
  return w.text();
}
