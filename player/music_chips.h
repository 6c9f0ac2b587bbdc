// The two ways a music log is played:
//   DirectChips  the chip classes at the file's own clocks (the YM2151 clock for OpmChip, half
//                the AY clock for Psg, whose tone is clock / (8 x TP)): the right pitch.
//   BoardChips   the board through the module file and the host services: YM2151 writes go to
//                ports 0x88/0x89, PSG n's to 0xA0+2n/0xA1+2n; the board's clocks set the pitch.
// DirectChips renders the FM at its own rate (clock / 64, where the chip's ratio is exact and
// its feedback runs at the chip's pace), converted by a ChipResampler where the build has
// libsoxr, and the PSGs band-limited at the output rate (PsgOutput); the faster of
// the two is held back to the other's latency, and lead() tells the player that latency.
// ChipsOptions::resample false renders both chips at the output rate, the PSGs sampled four
// times a frame. A PSG the file made for the AY-3-8910 family plays on
// that chip's output curve unless ChipsOptions::ay_curve is false.
// Levels: ChipsOptions::gain_db scales the whole output in both; DirectChips also scales the FM
// and each PSG by fm_gain_db / psg_gain_db and by the file's volume modifier and chip volumes,
// and may place each PSG's channels in stereo (psg_stereo, stereo_width). At 0 dB, factor 1 and
// mono, the chips add straight into the frames as before. BoardChips keeps the board's own
// volumes and mono PSGs.
// Both leave out the voices that are not selected. An FM channel is left out by clearing the
// pan bits of its register 0x20+ch, so it still runs but reaches neither side. A PSG channel:
// DirectChips clears its bit in the PSG's channel mask; BoardChips, which cannot reach the
// PSG, writes level 0 to its amplitude register instead.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fm/opm_chip.h"
#include "host/loaded_board.h"
#include "host/module_loader.h"
#include "player/board_retune.h"
#include "player/frame_delay.h"
#include "player/levels.h"
#include "player/music_player.h"
#include "player/psg_output.h"
#include "player/voices.h"
#include "psg/psg.h"

struct ChipsOptions {
  bool resample = true;  // false: the chips at the output rate, the PSGs sampled
  bool ay_curve = true;  // an AY-3-8910-family PSG on its own curve (false: the YM2149's)
  double gain_db = 0;      // the whole output, both modes
  double fm_gain_db = 0;   // the FM
  double psg_gain_db = 0;  // every PSG
  PsgStereo psg_stereo = PsgStereo::kMono;
  double stereo_width = 0.8;  // 0 to 1: how far A and C (abc) lie from the centre
};

class ChipResampler;

class DirectChips : public MusicChips {
 public:
  DirectChips(const MusicLog& log, uint32_t rate, const VoiceSet& voices,
              const ChipsOptions& options = {});
  ~DirectChips() override;
  void Write(uint8_t chip, uint8_t reg, uint8_t data) override;
  void Mix(StereoFrame* frames, int32_t count) override;
  uint64_t lead() const override { return lead_; }
  // The chips, the PSGs' output stages, the delays and the levels are copied as they stand, so
  // that a song plays on from the copy exactly as from the original, but for the FM's
  // converter: libsoxr's state cannot be copied, so the copy's is a fresh one, whose filter
  // settles over its latency (a few ms) after a seek back.
  std::unique_ptr<MusicChips> Clone() const override;

  const OpmChip& opm() const { return opm_; }
  const Psg& psg(int index) const { return psg_[index]; }

 private:
  DirectChips(const DirectChips& other);  // for Clone
  // The FM at clock, converted to rate when resample and libsoxr takes the rates; the
  // converter's latency in output frames.
  size_t SetUpOpm(uint32_t clock, uint32_t rate, bool resample);
  void MixPsgs(StereoFrame* frames, int32_t count);
  void MixFm(StereoFrame* frames, int32_t count);
  // render(f, count) added to frames: straight in at factor 1, else through scaled_.
  template <class Render>
  void MixScaled(double factor, StereoFrame* frames, int32_t count, Render render);
  // render(frames, count) straight into frames, or through delay when it holds frames back.
  template <class Render>
  void MixHeld(FrameDelay& delay, StereoFrame* frames, int32_t count, Render render);

  // Every member is copied by the copy constructor (Clone): one added here goes there too.
  uint32_t rate_ = 0;
  uint32_t opm_clock_ = 0;
  OpmChip opm_;
  Psg psg_[kMusicPsgCount];
  std::unique_ptr<PsgOutput> psg_output_[kMusicPsgCount];  // each PSG's placement and filters
  std::unique_ptr<ChipResampler> opm_resampler_;  // null: the FM at the output rate
  bool band_limited_ = false;              // the PSGs band-limited, as the chips sound
  FrameDelay fm_delay_;                    // each held back to the later one's latency
  FrameDelay psg_delay_;
  std::vector<StereoFrame> held_;          // a delayed chip's frames on their way
  std::vector<StereoFrame> scaled_;        // a scaled chip's frames before its factor
  double fm_factor_ = 1;                   // each chip's level: gains, file volumes
  double psg_factor_[kMusicPsgCount] = {1, 1, 1, 1};
  bool opm_on_ = false;                    // present and some channel selected
  bool psg_on_[kMusicPsgCount] = {};
  uint8_t fm_muted_ = 0;                   // bit ch: channel ch + 1 left out
  uint64_t lead_ = 0;                      // the converters' latency, in output frames
};

class BoardChips : public MusicChips {
 public:
  ~BoardChips() override;
  // Creates a board on a fresh host at the given rate, made by factory (a module file's
  // VyxCreateModule, or a board linked into the program). Null with a reason in *error when the
  // module refuses.
  // A register log the board was asked for and could not make is such a refusal.
  // gain_db scales all the board gives.
  // run_files: the files of the run, which the board's register log may be none of; switches:
  // the board's switches as the command line set them.
  // retune_for: the song whose writes are moved to the board's clocks (BoardRetune), or
  // nullptr for the writes as they are.
  static std::unique_ptr<BoardChips> Create(const LoadedBoard::Factory& factory, uint32_t rate,
                                            const VoiceSet& voices, double gain_db,
                                            const RunFiles& run_files,
                                            const HostSwitchValues& switches,
                                            const MusicLog* retune_for, std::string* error);
  // Releases the board (its log is completed): a log that could not be written, or empty.
  std::string Finish() override;
  void Write(uint8_t chip, uint8_t reg, uint8_t data) override;
  void Mix(StereoFrame* frames, int32_t count) override;

 private:
  BoardChips() = default;
  // The write as the board takes it, after the retune.
  void WriteBoard(uint8_t chip, uint8_t reg, uint8_t data);

  LoadedBoard board_;
  uint8_t fm_muted_ = 0;
  uint8_t psg_muted_[kMusicPsgCount] = {};   // bits 0-2: channels A-C left out
  StereoFrame* out_ = nullptr;               // where the sink adds the host's rendered frames
  double factor_ = 1;                        // on the host's frames
  std::unique_ptr<BoardRetune> retune_;      // null: the writes as they are
};
