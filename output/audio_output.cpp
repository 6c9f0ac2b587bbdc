#include "output/audio_output.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "common/le_bytes.h"
#include "text/clock_text.h"
#include "output/flac_writer.h"
#include "output/wav_header.h"

namespace {

// The largest FLAC stream: STREAMINFO counts its samples in 36 bits.
constexpr uint64_t kMaxFlacFrames = (uint64_t{1} << 36) - 1;

// "16-bit stereo WAV", "32-bit float stereo WAV".
std::string StereoName(const AudioFormat& format) {
  const std::string name = AudioFormatName(format);
  const size_t space = name.rfind(' ');
  return name.substr(0, space) + " stereo" + name.substr(space);
}

}  // namespace

std::string TooLongForWav(const std::string& path, uint64_t frames, double seconds,
                          uint32_t rate) {
  return TooLongFor(path, AudioFormat{}, AudioOutput::kMaxWavFrames, frames, seconds, rate);
}

std::string TooLongFor(const std::string& path, const AudioFormat& format, uint64_t max_frames,
                       uint64_t frames, double seconds, uint32_t rate) {
  return "cannot write " + path + ": the render is " + FormatClock(seconds) + " long (" +
         std::to_string(frames) + " frames), more than a " + StereoName(format) +
         " file holds (" + std::to_string(max_frames) + " frames, " +
         FormatClock(static_cast<double>(max_frames) / rate) + " at " + std::to_string(rate) +
         " Hz); write it with --raw, or render a part with --length SECONDS";
}

uint64_t AudioOutput::MaxFrames(const AudioFormat& format, const AudioTags& tags) {
  return format.container == AudioContainer::kFlac ? kMaxFlacFrames
                                                   : WavMaxFrames(format.sample, tags);
}

AudioOutput::AudioOutput(OutputSet* set) : set_(set != nullptr ? set : &own_) {}

AudioOutput::~AudioOutput() { Discard(); }

bool AudioOutput::Open(File* file, const std::string& path, std::string* error) {
  file->target = path;
  file->out = set_->Open(path, error);
  return file->out != nullptr;
}

bool AudioOutput::OpenWav(const std::string& path, uint32_t rate, uint64_t frames,
                          std::string* error) {
  return OpenAudio(path, AudioFormat{}, rate, frames, AudioTags{}, error);
}

bool AudioOutput::OpenAudio(const std::string& path, const AudioFormat& format, uint32_t rate,
                            uint64_t frames, const AudioTags& tags, std::string* error) {
  if (!Open(&wav_, path, error)) return false;
  format_ = format;
  tags_ = tags;
  rate_ = rate;
  max_frames_ = MaxFrames(format, tags);
  wav_frames_ = frames <= max_frames_ ? frames : 0;
  if (format.container == AudioContainer::kWav) {
    const std::vector<uint8_t> header = WavHeader(format.sample, rate, wav_frames_, tags);
    Put(&wav_, header.data(), header.size());
    return true;
  }
  flac_ = std::make_unique<FlacWriter>();
  const unsigned bits = format.sample == SampleFormat::kS24 ? 24 : 16;
  if (!flac_->Open(wav_.out->stream(), wav_.out->seekable(), wav_.out->origin(), bits, rate, wav_frames_, tags,
                   error)) {
    *error = "cannot write " + path + ": " + *error;
    Drop(&wav_);
    return false;
  }
  return true;
}

bool AudioOutput::OpenRaw(const std::string& path, std::string* error) {
  return Open(&raw_, path, error);
}

void AudioOutput::Fail(const File& file, int error_number) {
  if (failed_) return;
  failed_ = true;
  error_ = "cannot write " + file.target + ": " +
           (error_number != 0 ? std::strerror(error_number) : "write error");
}

bool AudioOutput::Put(File* file, const void* bytes, size_t size) {
  if (failed_) return false;
  errno = 0;
  if (std::fwrite(bytes, 1, size, file->out->stream()) != size) Fail(*file, errno);
  return !failed_;
}

bool AudioOutput::Write(const StereoFrame* frames, int32_t count) {
  if (failed_) return false;
  if (count <= 0) return true;
  const auto n = static_cast<size_t>(count);
  TrackPeaks(frames, n);
  if (raw_.out != nullptr) PutRaw(frames, n);
  if (wav_.out != nullptr) {
    if (!PutAudio(frames, n)) return false;
  } else {
    CountClips(frames, n);
  }
  frames_ += n;
  return !failed_;
}

void AudioOutput::TrackPeaks(const StereoFrame* frames, size_t n) {
  // Peaks from the smallest and largest value of each side, widened once (|INT32_MIN| needs 64
  // bits): a plain min/max loop that the compiler vectorises.
  int32_t min_left = 0, max_left = 0, min_right = 0, max_right = 0;
  for (size_t i = 0; i < n; ++i) {
    min_left = std::min(min_left, frames[i].left);
    max_left = std::max(max_left, frames[i].left);
    min_right = std::min(min_right, frames[i].right);
    max_right = std::max(max_right, frames[i].right);
  }
  peak_left_ = std::max({peak_left_, int64_t{max_left}, -int64_t{min_left}});
  peak_right_ = std::max({peak_right_, int64_t{max_right}, -int64_t{min_right}});
}

void AudioOutput::CountClips(const StereoFrame* frames, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    for (const int32_t v : {frames[i].left, frames[i].right}) {
      if (v > INT16_MAX || v < INT16_MIN) ++clipped_;
    }
  }
}

void AudioOutput::PutRaw(const StereoFrame* frames, size_t n) {
  if constexpr (std::endian::native == std::endian::little && sizeof(StereoFrame) == 8) {
    // The frames already are the file's little-endian int32 pairs.
    Put(&raw_, frames, n * sizeof(StereoFrame));
  } else {
    std::vector<uint8_t> bytes(n * 8);
    for (size_t i = 0; i < n; ++i) {
      PutLe32(&bytes[i * 8], static_cast<uint32_t>(frames[i].left));
      PutLe32(&bytes[i * 8 + 4], static_cast<uint32_t>(frames[i].right));
    }
    Put(&raw_, bytes.data(), bytes.size());
  }
}

bool AudioOutput::PutAudio(const StereoFrame* frames, size_t n) {
  if (frames_ + n > max_frames_) {
    failed_ = true;
    error_ = "cannot write " + wav_.target + ": more than a " + StereoName(format_) +
             " file holds (" + std::to_string(max_frames_) + " frames)";
    return false;
  }
  if (format_.container == AudioContainer::kFlac) {
    PutFlac(frames, n);
  } else {
    PutWav(frames, n);
  }
  return true;
}

// The sample shifted up by `shift` bits and clamped to 16 + shift bits; clipping is counted.
int32_t AudioOutput::Clamp(int32_t v, int32_t shift) {
  const int64_t top = (int64_t{1} << (15 + shift)) - 1;
  const int64_t wide = int64_t{v} * (int64_t{1} << shift);
  if (wide > top || wide < -top - 1) {
    ++clipped_;
    return static_cast<int32_t>(wide > top ? top : -top - 1);
  }
  return static_cast<int32_t>(wide);
}

void AudioOutput::PutWav(const StereoFrame* frames, size_t n) {
  const unsigned frame_bytes = WavFrameBytes(format_.sample);
  bytes_.resize(n * frame_bytes);
  uint8_t* p = bytes_.data();
  for (size_t i = 0; i < n; ++i) {
    for (const int32_t v : {frames[i].left, frames[i].right}) {
      if (format_.sample == SampleFormat::kS16) {
        PutLe16(p, static_cast<uint16_t>(Clamp(v, 0)));
        p += 2;
      } else if (format_.sample == SampleFormat::kS24) {
        const auto s = static_cast<uint32_t>(Clamp(v, 8));
        PutLe16(p, static_cast<uint16_t>(s));
        p[2] = static_cast<uint8_t>(s >> 16);
        p += 3;
      } else {
        const auto sample = static_cast<float>(v / 32768.0);
        uint32_t bits;
        std::memcpy(&bits, &sample, sizeof bits);  // std::bit_cast, which the web build lacks
        PutLe32(p, bits);
        p += 4;
      }
    }
  }
  Put(&wav_, bytes_.data(), bytes_.size());
}

void AudioOutput::PutFlac(const StereoFrame* frames, size_t n) {
  const int32_t shift = format_.sample == SampleFormat::kS24 ? 8 : 0;
  samples_.resize(n * 2);
  for (size_t i = 0; i < n; ++i) {
    samples_[2 * i] = Clamp(frames[i].left, shift);
    samples_[2 * i + 1] = Clamp(frames[i].right, shift);
  }
  if (!failed_ && !flac_->Write(samples_.data(), n)) {
    FlacFailed();
  }
}

// The encoder failed: a failed write says its errno, anything else the encoder's state.
void AudioOutput::FlacFailed() {
  Fail(wav_, flac_->write_errno());
  if (flac_->write_errno() == 0) error_ = "cannot write " + wav_.target + ": " + flac_->why();
}

void AudioOutput::Drop(File* file) {
  if (file == &wav_) flac_.reset();  // the encoder writes nothing more to a file that goes
  if (file->out != nullptr) set_->Discard(file->out);
  file->out = nullptr;
}

void AudioOutput::Discard() {
  Drop(&wav_);
  Drop(&raw_);
}

// The audio file completed: the FLAC stream finished, or the WAV header rewritten when the
// length came out other than it says.
bool AudioOutput::CloseAudio() {
  if (wav_.out == nullptr || failed_) return !failed_;
  std::FILE* stream = wav_.out->stream();
  if (flac_ != nullptr) {
    if (!flac_->Finish()) {
      FlacFailed();
    } else if (frames_ != wav_frames_ && !wav_.out->seekable()) {
      Fail(wav_, ESPIPE);  // the stream's length says otherwise, and it cannot be rewritten
    }
    flac_.reset();
    return !failed_;
  }
  if (frames_ != wav_frames_) {
    const std::vector<uint8_t> header = WavHeader(format_.sample, rate_, frames_, tags_);
    std::fflush(stream);
    // The file starts where the stream stood when it was opened.
    const uint64_t origin = wav_.out->origin();
    errno = 0;
    if (!wav_.out->seekable()) {
      Fail(wav_, ESPIPE);  // the header's length says otherwise, and it cannot be rewritten
    } else if (origin > LONG_MAX || std::fseek(stream, static_cast<long>(origin), SEEK_SET) != 0) {
      Fail(wav_, errno != 0 ? errno : EOVERFLOW);
    } else {
      Put(&wav_, header.data(), header.size());
    }
  }
  return !failed_;
}

bool AudioOutput::Close(std::string* error) {
  CloseAudio();
  for (File* file : {&wav_, &raw_}) {
    if (file->out == nullptr || failed_) continue;
    std::string why;
    if (!file->out->Close(&why)) {
      failed_ = true;
      error_ = why;
    }
  }
  if (!failed_ && set_ == &own_ && !own_.Commit(&error_)) failed_ = true;
  if (failed_) {
    Discard();
    *error = error_;
    return false;
  }
  wav_.out = raw_.out = nullptr;  // the set holds them from here
  return true;
}
