// Where rendered frames go: a stereo WAV or FLAC file (16 or 24 bits clamped, clipped samples
// counted, or 32-bit float WAV, unclamped; see audio_format.h) and/or a raw file of the unclamped little-endian int32 left/right pairs exactly as the board added
// them to zeroed frames. Peaks are tracked for the summary.
//
// The files go through the door of output_file.h: a failed or stopped render never leaves a file
// that looks whole and never destroys what was there. An output of its own commits its files at
// Close; one that belongs to a run's OutputSet leaves them to the set, which commits them with
// the run's other outputs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "output/audio_format.h"
#include "output/output_file.h"
#include "vyx/stereo_frame.h"

// "cannot write PATH: the render is ... long, more than a WAV file holds ...; use --raw, or
// --length SECONDS"
std::string TooLongForWav(const std::string& path, uint64_t frames, double seconds, uint32_t rate);
// The same for any format, with the frames its file holds.
std::string TooLongFor(const std::string& path, const AudioFormat& format, uint64_t max_frames,
                       uint64_t frames, double seconds, uint32_t rate);

class FlacWriter;

class AudioOutput {
 public:
  // set: the run's outputs, which this one joins; null: an output of its own.
  explicit AudioOutput(OutputSet* set = nullptr);
  ~AudioOutput();  // an output not closed is discarded
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Frames a 16-bit stereo WAV file without tags can hold (its sizes are 32-bit).
  static constexpr uint64_t kMaxWavFrames = (0xFFFFFFFFull - 36) / 4;
  // Frames a file of the format with these tags can hold.
  static uint64_t MaxFrames(const AudioFormat& format, const AudioTags& tags);

  // frames: the length of the render, known before anything is written. The header carries
  // its final sizes from the start, so that a target that cannot seek back (a pipe, standard
  // output) still gets a complete file; Close rewrites them only if the length came out other.
  bool OpenWav(const std::string& path, uint32_t rate, uint64_t frames, std::string* error);
  // The same in any format, with the song's tags (WAV: a LIST/INFO chunk when there are any;
  // FLAC: Vorbis comments).
  bool OpenAudio(const std::string& path, const AudioFormat& format, uint32_t rate,
                 uint64_t frames, const AudioTags& tags, std::string* error);
  bool OpenRaw(const std::string& path, std::string* error);
  // False from the first failed write on: the render should stop; error() says why.
  bool Write(const StereoFrame* frames, int32_t count);
  // Completes the files (the WAV header's sizes) and, for an output of its own, puts them in
  // place; false with a reason when anything failed (then nothing is put in place).
  bool Close(std::string* error);
  // Drops what was written; the targets stay as they were.
  void Discard();

  const std::string& error() const { return error_; }
  uint64_t frames() const { return frames_; }
  // Samples the audio file clamped; with only a raw file (never clamped), the samples a 16-bit
  // output would have clamped (clipped_would_be() true).
  uint64_t clipped_samples() const { return clipped_; }
  bool clipped_would_be() const { return wav_.target.empty(); }
  int64_t peak_left() const { return peak_left_; }
  int64_t peak_right() const { return peak_right_; }

 private:
  struct File {
    OutputFile* out = nullptr;  // held by the set
    std::string target;         // the path asked for
  };
  bool Open(File* file, const std::string& path, std::string* error);
  bool Put(File* file, const void* bytes, size_t size);
  void TrackPeaks(const StereoFrame* frames, size_t n);
  void PutRaw(const StereoFrame* frames, size_t n);
  // Counts the samples outside the 16-bit range (for a raw file alone).
  void CountClips(const StereoFrame* frames, size_t n);
  // False when the file would grow past what it holds.
  bool PutAudio(const StereoFrame* frames, size_t n);
  int32_t Clamp(int32_t v, int32_t shift);
  void PutWav(const StereoFrame* frames, size_t n);
  void PutFlac(const StereoFrame* frames, size_t n);
  bool CloseAudio();
  void Fail(const File& file, int error_number);
  void FlacFailed();
  void Drop(File* file);

  OutputSet own_;
  OutputSet* set_;
  File wav_;  // the audio file, WAV or FLAC
  File raw_;
  AudioFormat format_;
  AudioTags tags_;
  uint32_t rate_ = 0;
  uint64_t max_frames_ = 0;
  std::unique_ptr<FlacWriter> flac_;
  std::vector<uint8_t> bytes_;    // a block's samples as the WAV file has them
  std::vector<int32_t> samples_;  // a block's samples as the FLAC encoder takes them
  uint64_t wav_frames_ = 0;  // the length the header gives
  bool failed_ = false;
  std::string error_;
  uint64_t frames_ = 0;
  uint64_t clipped_ = 0;
  int64_t peak_left_ = 0;
  int64_t peak_right_ = 0;
};
