#include "app/demo_script.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "module/board_clocks.h"
#include "module/board_ports.h"

namespace {

constexpr double kToneClock = kBoardToneClock;
constexpr double kPsgClock = kBoardPsgClock;
constexpr int kRate = 44100;
constexpr int kStep = kRate / 8;  // one eighth-second step

class ScriptWriter {
 public:
  void Comment(const std::string& text) { text_ += "# " + text + "\n"; }
  void Raw(const std::string& line) { text_ += line + "\n"; }
  void Out(uint32_t port, int value) {
    char line[32];
    std::snprintf(line, sizeof line, "out 0x%02x 0x%02x", static_cast<unsigned>(port), value & 0xFF);
    Raw(line);
  }
  void Wait(int frames) { Raw("wait " + std::to_string(frames)); }
  void Psg(int psg, int reg, int value) {
    Out(PsgAddressPort(psg), reg);
    Out(PsgDataPort(psg), value);
  }
  void Fm(int reg, int value) {
    Out(kPortFmAddress, reg);
    Out(kPortFmData, value);
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

double NoteHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// ---- Tone voices ------------------------------------------------------------------------------

void ToneNote(ScriptWriter& w, int voice, int note) {
  int count = note > 0 ? static_cast<int>(kToneClock / NoteHz(note) + 0.5) : 0;
  w.Out(kPortToneCounter + voice, count & 0xFF);
  w.Out(kPortToneCounter + voice, (count >> 8) & 0xFF);
}

void ToneMovement(ScriptWriter& w) {
  w.Comment("First movement: the interval-timer tone voices play a short canon.");
  w.Out(kPortToneControl, 0x36);  // counters 0-2: low byte then high byte
  w.Out(kPortToneControl, 0x76);
  w.Out(kPortToneControl, 0xB6);
  w.Out(kPortToneEnable, 0x08);
  static const int kMelody[] = {72, 74, 76, 72, 72, 74, 76, 72, 76, 77, 79, 0, 76, 77, 79, 0};
  static const int kBass[] = {48, 0, 55, 0, 48, 0, 55, 0, 48, 0, 53, 0, 48, 0, 55, 0};
  constexpr int kSteps = sizeof kMelody / sizeof kMelody[0];
  for (int step = 0; step < kSteps + 4; ++step) {
    ToneNote(w, 0, step < kSteps ? kMelody[step] : 0);
    ToneNote(w, 1, step < kSteps ? kBass[step] : 0);
    int echo = step - 4;  // the third voice answers half a bar later, an octave lower
    ToneNote(w, 2, echo >= 0 && echo < kSteps && kMelody[echo] ? kMelody[echo] - 12 : 0);
    w.Wait(kStep);
  }
  ToneNote(w, 2, 0);
  w.Out(kPortToneEnable, 0x00);
}

// ---- PSGs -----------------------------------------------------------------------------------

void PsgTone(ScriptWriter& w, int psg, int channel, int note) {
  int period = note > 0 ? static_cast<int>(kPsgClock / (8.0 * NoteHz(note)) + 0.5) : 0;
  w.Psg(psg, 2 * channel, period & 0xFF);
  w.Psg(psg, 2 * channel + 1, (period >> 8) & 0x0F);
}

void PsgMovement(ScriptWriter& w) {
  w.Comment("Second movement: PSG 1 on the left plays a melody with a triangle envelope and a");
  w.Comment("noise hi-hat that decays; PSG 2 on the right plays a bass that swells in (shape 13).");
  w.Raw("apply 0 0 0 0 0 0 0 0 1 0 0 1 1 1 1 1 0");
  // PSG 1: channel A tone at fixed level 13; channel C noise with the envelope.
  w.Psg(0, 7, 0x1E);   // tone A on, noise C on, everything else off
  w.Psg(0, 8, 13);
  w.Psg(0, 10, 0x10);  // channel C from the envelope
  w.Psg(0, 6, 4);      // noise period
  w.Psg(0, 11, 0x80);  // envelope period 0x0780: a decay of about a quarter second
  w.Psg(0, 12, 0x07);
  // PSG 2: channels A and B from the envelope, a fifth apart.
  w.Psg(1, 7, 0x3C);
  w.Psg(1, 8, 0x10);
  w.Psg(1, 9, 0x10);
  w.Psg(1, 11, 0x00);
  w.Psg(1, 12, 0x10);  // slow envelope
  static const int kMelody[] = {76, 79, 81, 79, 76, 74, 72, 74, 76, 79, 81, 84, 83, 81, 79, 0};
  static const int kBass[] = {45, 0, 0, 0, 41, 0, 0, 0, 43, 0, 0, 0, 48, 0, 0, 0};
  for (int step = 0; step < 16; ++step) {
    PsgTone(w, 0, 0, kMelody[step]);
    if (kMelody[step] == 0) w.Psg(0, 8, 0);
    w.Psg(0, 13, 0);  // shape 0: the hi-hat restarts and decays
    if (kBass[step]) {
      PsgTone(w, 1, 0, kBass[step]);
      PsgTone(w, 1, 1, kBass[step] + 7);
      w.Psg(1, 13, 13);  // shape 13: rise and hold
    }
    w.Wait(kStep);
  }
  // A triangle sweep (shape 14) to close on PSG 3, centred.
  w.Psg(2, 7, 0x3E);
  w.Psg(2, 8, 0x10);
  PsgTone(w, 2, 0, 69);
  w.Psg(2, 11, 0x00);
  w.Psg(2, 12, 0x04);
  w.Psg(2, 13, 14);
  w.Wait(4 * kStep);
  for (int psg = 0; psg < 3; ++psg) w.Psg(psg, 7, 0x3F);
  for (int psg = 0; psg < 3; ++psg) {
    for (int reg = 8; reg <= 10; ++reg) w.Psg(psg, reg, 0);
  }
}

// ---- FM -------------------------------------------------------------------------------------

// Key code of a MIDI note: octave in bits 4-6, note code (C# = 0 ... C = 14, skipping every
// fourth value) in bits 0-3.
int KeyCode(int note) {
  static const int kCodes[12] = {0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14};
  int index = note - 61;
  int octave = 4 + (index >= 0 ? index / 12 : -((11 - index) / 12));
  int code = kCodes[((index % 12) + 12) % 12];
  octave = octave < 0 ? 0 : (octave > 7 ? 7 : octave);
  return (octave << 4) | code;
}

struct FmOperatorSetup {
  int dt1_mul, tl, ks_ar, am_d1r, dt2_d2r, d1l_rr;
};

// Channel registers and its four operators, given in register order M1, M2, C1, C2.
void FmVoice(ScriptWriter& w, int ch, int pan_fb_con, int pms_ams, const FmOperatorSetup (&ops)[4]) {
  w.Fm(0x20 + ch, pan_fb_con);
  w.Fm(0x38 + ch, pms_ams);
  for (int slot = 0; slot < 4; ++slot) {
    const int base = ch + 8 * slot;
    w.Fm(0x40 + base, ops[slot].dt1_mul);
    w.Fm(0x60 + base, ops[slot].tl);
    w.Fm(0x80 + base, ops[slot].ks_ar);
    w.Fm(0xA0 + base, ops[slot].am_d1r);
    w.Fm(0xC0 + base, ops[slot].dt2_d2r);
    w.Fm(0xE0 + base, ops[slot].d1l_rr);
  }
}

void FmNote(ScriptWriter& w, int ch, int note) {
  w.Fm(0x08, ch);  // key off
  if (note <= 0) return;
  w.Fm(0x28 + ch, KeyCode(note));
  w.Fm(0x30 + ch, 0);
  w.Fm(0x08, 0x78 | ch);  // all four operators on
}

void FmMovement(ScriptWriter& w) {
  w.Comment("Third movement: the FM chip. A lead (algorithm 4, feedback, LFO vibrato and");
  w.Comment("tremolo) in the centre, a bass (algorithm 0) on the left, bells (algorithm 7) on the");
  w.Comment("right and noise (channel 8) on the right.");
  w.Raw("apply 0 0 0 0 0 0 0 0 1 1 1 1 1 1 1 1 0");
  w.Fm(0x18, 0xC8);  // LFO frequency
  w.Fm(0x19, 0x98);  // PMD
  w.Fm(0x19, 0x20);  // AMD
  w.Fm(0x1B, 0x02);  // triangle
  const FmOperatorSetup lead[4] = {{0x02, 0x24, 0x1F, 0x05, 0x02, 0x27},
                                   {0x01, 0x2A, 0x1F, 0x05, 0x02, 0x27},
                                   {0x01, 0x08, 0x1F, 0x84, 0x01, 0x17},
                                   {0x01, 0x08, 0x1F, 0x84, 0x01, 0x17}};
  FmVoice(w, 0, 0xC0 | (5 << 3) | 4, 0x21, lead);
  const FmOperatorSetup bass[4] = {{0x00, 0x1C, 0x1F, 0x0A, 0x00, 0x4A},
                                   {0x02, 0x28, 0x1F, 0x0A, 0x00, 0x4A},
                                   {0x01, 0x20, 0x1F, 0x0A, 0x00, 0x4A},
                                   {0x01, 0x04, 0x1F, 0x08, 0x03, 0x2A}};
  FmVoice(w, 1, 0x40 | (6 << 3) | 0, 0x00, bass);
  const FmOperatorSetup bell[4] = {{0x05, 0x20, 0x1F, 0x0C, 0x04, 0x88},
                                   {0x07, 0x24, 0x1F, 0x0C, 0x04, 0x88},
                                   {0x03, 0x22, 0x1F, 0x0E, 0x04, 0x88},
                                   {0x01, 0x20, 0x1F, 0x0C, 0x04, 0x88}};
  FmVoice(w, 2, 0x80 | 7, 0x00, bell);
  const FmOperatorSetup noise[4] = {{0x00, 0x7F, 0x1F, 0x00, 0x00, 0x0F},
                                    {0x00, 0x7F, 0x1F, 0x00, 0x00, 0x0F},
                                    {0x00, 0x7F, 0x1F, 0x00, 0x00, 0x0F},
                                    {0x00, 0x10, 0x1F, 0x14, 0x00, 0x0A}};
  FmVoice(w, 7, 0x80 | 7, 0x00, noise);
  w.Fm(0x0F, 0x80 | 0x18);  // noise on, frequency 24

  static const int kLead[] = {72, 0, 76, 79, 84, 0, 83, 79, 81, 0, 77, 81, 79, 0, 0, 0,
                              76, 0, 79, 84, 88, 0, 86, 84, 83, 0, 79, 83, 84, 0, 0, 0};
  static const int kBass[] = {36, 36, 48, 36, 41, 41, 53, 41, 38, 38, 50, 38, 43, 43, 55, 43,
                              36, 36, 48, 36, 41, 41, 53, 41, 43, 43, 55, 43, 36, 0, 0, 0};
  for (int step = 0; step < 32; ++step) {
    if (kLead[step]) FmNote(w, 0, kLead[step]);
    if (!kLead[step] && step % 4 == 1) FmNote(w, 0, 0);
    FmNote(w, 1, kBass[step]);
    if (step % 8 == 4) FmNote(w, 2, kLead[step - 4] ? kLead[step - 4] + 12 : 96);
    if (step % 2 == 1) FmNote(w, 7, 60);
    w.Wait(kStep);
  }
  for (int ch : {0, 1, 2, 7}) FmNote(w, ch, 0);
  w.Fm(0x0F, 0x00);
}

}  // namespace

std::string DemoScript() {
  ScriptWriter w;
  w.Comment("Vorla demo: the tone voices, then the PSGs, then the FM chip.");
  w.Comment("It applies its own settings and leaves the defaults applied at the end.");
  w.Raw("rate " + std::to_string(kRate));
  w.Raw("apply 0 0 0 0 0 0 0 0 1 1 1 1 1 1 1 1 0");
  ToneMovement(w);
  PsgMovement(w);
  FmMovement(w);
  w.Wait(kRate);  // let the releases ring out
  w.Raw("apply 0 0 0 0 0 0 0 0 1 1 1 1 1 1 1 1 0");
  return w.text();
}
