// What an audio output is written as: the file type (WAV or FLAC) and the sample format, chosen
// from the output's name and --format; and the song's tags that go into it.
#pragma once

#include <optional>
#include <string>

enum class AudioContainer { kWav, kFlac };

// The render's frames are integers at a 16-bit full scale. s16 clamps them to 16 bits; s24
// shifts them up 8 bits and clamps to 24 bits (the low 8 bits are zero: there is nothing finer
// in them); f32 divides by 32768 and clamps nothing, so a mix louder than full scale keeps its
// peaks above 1.0.
enum class SampleFormat { kS16, kS24, kF32 };

struct AudioFormat {
  AudioContainer container = AudioContainer::kWav;
  SampleFormat sample = SampleFormat::kS16;
};

// What --format asked for; a part not asked for goes by the output's name, else the default.
struct FormatRequest {
  std::optional<AudioContainer> container;
  std::optional<SampleFormat> sample;
};

// "s16", "s24", "f32", "wav", "flac", or a file type and a sample format joined by a comma
// ("flac,s24"); false with "--format: ..." in *error.
bool ParseFormatRequest(const std::string& text, FormatRequest* request, std::string* error);

// The format of an output named path ("" or "-": no name to go by). .wav and .wave are WAV,
// .flac is FLAC (any case); a name without an extension, or with one that names no audio
// format, is written as --format says (WAV by default). An audio or register-log extension that
// vorla does not write (.mp3, .ogg, .raw, .vgm, ...) is refused, as is a name that contradicts
// --format, and 32-bit float for FLAC. False with "PATH: ..." in *error.
bool ChooseAudioFormat(const std::string& path, const FormatRequest& request, AudioFormat* format,
                       std::string* error);

// ".wav" or ".flac": the extension of outputs vorla names itself (stems, default names).
std::string AudioExtension(AudioContainer container);

// "16-bit WAV", "24-bit FLAC", "32-bit float WAV".
std::string AudioFormatName(const AudioFormat& format);

// Bytes a frame (left and right) takes in a WAV file.
unsigned WavFrameBytes(SampleFormat sample);

// The song's tags as the outputs carry them; empty fields are left out.
struct AudioTags {
  std::string title;
  std::string game;
  std::string system;
  std::string author;
  std::string date;

  bool empty() const {
    return title.empty() && game.empty() && system.empty() && author.empty() && date.empty();
  }
};
