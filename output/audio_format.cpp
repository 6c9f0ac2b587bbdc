#include "output/audio_format.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "common/ascii.h"
namespace {

// Extensions of audio and register-log formats vorla does not write: an output named so is
// refused rather than written as WAV under a name that says otherwise.
constexpr std::string_view kForeign[] = {
    ".mp3", ".mp2", ".mp1", ".ogg", ".oga", ".opus", ".spx",  ".m4a", ".m4b", ".mp4",
    ".aac", ".ac3", ".eac3", ".dts", ".aif", ".aiff", ".aifc", ".caf", ".au",  ".snd",
    ".wma", ".asf", ".wv",  ".ape", ".mpc", ".tta", ".tak",  ".alac", ".amr", ".mka",
    ".mkv", ".webm", ".w64", ".rf64", ".voc", ".mid", ".midi", ".raw", ".pcm", ".s32",
    ".vgm", ".vgz", ".s98"};

constexpr const char* kWrites = "it writes WAV (.wav, .wave) and FLAC (.flac)";

bool ParseWord(const std::string& word, FormatRequest* request) {
  auto set_sample = [request](SampleFormat s) {
    if (request->sample) return false;
    request->sample = s;
    return true;
  };
  auto set_container = [request](AudioContainer c) {
    if (request->container) return false;
    request->container = c;
    return true;
  };
  if (word == "s16") return set_sample(SampleFormat::kS16);
  if (word == "s24") return set_sample(SampleFormat::kS24);
  if (word == "f32") return set_sample(SampleFormat::kF32);
  if (word == "wav") return set_container(AudioContainer::kWav);
  if (word == "flac") return set_container(AudioContainer::kFlac);
  return false;
}

const char* ContainerName(AudioContainer container) {
  return container == AudioContainer::kFlac ? "FLAC" : "WAV";
}

}  // namespace

bool ParseFormatRequest(const std::string& text, FormatRequest* request, std::string* error) {
  *request = {};
  const std::string lower = AsciiLower(text);
  const size_t comma = lower.find(',');
  const bool ok = comma == std::string::npos
                      ? ParseWord(lower, request)
                      : ParseWord(lower.substr(0, comma), request) &&
                            ParseWord(lower.substr(comma + 1), request);
  if (!ok) {
    *error = "--format: '" + text + "' is not a format: give s16, s24 or f32 (the samples), wav "
             "or flac (the file type), or one of each joined by a comma, e.g. flac,s24";
  }
  return ok;
}

bool ChooseAudioFormat(const std::string& path, const FormatRequest& request, AudioFormat* format,
                       std::string* error) {
  const std::string ext =
      path == "-" ? "" : AsciiLower(std::filesystem::path(path).extension().string());
  std::optional<AudioContainer> named;
  if (ext == ".wav" || ext == ".wave") named = AudioContainer::kWav;
  if (ext == ".flac") named = AudioContainer::kFlac;
  if (std::find(std::begin(kForeign), std::end(kForeign), ext) != std::end(kForeign)) {
    *error = path + ": " + ext.substr(1) + " is not a format vorla writes; " + kWrites +
             (ext == ".raw" || ext == ".s32" ? " (--raw FILE writes the raw int32 frames)" : "");
    return false;
  }
  if (named && request.container && *named != *request.container) {
    *error = path + ": the name says " + ContainerName(*named) + " but --format asks for " +
             ContainerName(*request.container);
    return false;
  }
  format->container = named.value_or(request.container.value_or(AudioContainer::kWav));
  format->sample = request.sample.value_or(SampleFormat::kS16);
  if (format->container == AudioContainer::kFlac && format->sample == SampleFormat::kF32) {
    *error = (path.empty() || path == "-" ? std::string("--format") : path) +
             ": FLAC holds integer samples (16 or 24 bits): --format f32 is for WAV only";
    return false;
  }
  return true;
}

std::string AudioExtension(AudioContainer container) {
  return container == AudioContainer::kFlac ? ".flac" : ".wav";
}

std::string AudioFormatName(const AudioFormat& format) {
  const char* bits = format.sample == SampleFormat::kS16   ? "16-bit "
                     : format.sample == SampleFormat::kS24 ? "24-bit "
                                                           : "32-bit float ";
  return bits + std::string(ContainerName(format.container));
}

unsigned WavFrameBytes(SampleFormat sample) {
  return sample == SampleFormat::kS16 ? 4 : sample == SampleFormat::kS24 ? 6 : 8;
}
