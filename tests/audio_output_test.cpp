// Rendered audio in each format: the WAV headers and samples of s16, s24 and f32, the tags in a
// LIST/INFO chunk, FLAC read back by libFLAC's decoder (from a file and from a pipe), and the
// names and --format words that are refused.
#include <FLAC/stream_decoder.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "output/audio_output.h"
#include "tests/temp_dir.h"

namespace {

// Quiet, full scale both ways, and past it both ways (clipped in integers, kept in float).
const std::vector<StereoFrame> kFrames = {
    {0, 0}, {12345, -1}, {32767, -32768}, {40000, -40000}, {-12, 7}};
const AudioTags kTags = {"Starting Point", "Nemesis 2", "MSX", "Ikariko", "1987"};

uint32_t Le(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

// The chunks of a RIFF/WAVE file (and of a LIST/INFO chunk's body, from offset 4) by id.
std::map<std::string, std::string> Chunks(const std::string& b, size_t at = 12) {
  std::map<std::string, std::string> chunks;
  for (; at + 8 <= b.size(); at += 8 + ((Le(b, at + 4, 4) + 1) & ~1u)) {
    chunks[b.substr(at, 4)] = b.substr(at + 8, Le(b, at + 4, 4));
  }
  return chunks;
}

std::string Write(const std::string& path, AudioFormat format, const AudioTags& tags,
                  uint64_t announced = kFrames.size()) {
  AudioOutput out;
  std::string error;
  EXPECT_TRUE(out.OpenAudio(path, format, 44100, announced, tags, &error)) << error;
  EXPECT_TRUE(out.Write(kFrames.data(), static_cast<int32_t>(kFrames.size())));
  EXPECT_TRUE(out.Close(&error)) << error;
  EXPECT_EQ(out.clipped_samples(), format.sample == SampleFormat::kF32 ? 0u : 2u);
  EXPECT_FALSE(out.clipped_would_be());
  return path;
}

struct Decoded {
  unsigned bits = 0;
  uint64_t total = 0;
  std::vector<int32_t> samples;
  std::vector<std::string> comments;
};

Decoded DecodeFlac(const std::string& path) {
  Decoded d;
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
  auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                  const FLAC__int32* const channels[], void* self) {
    for (unsigned i = 0; i < frame->header.blocksize; ++i) {
      static_cast<Decoded*>(self)->samples.push_back(channels[0][i]);
      static_cast<Decoded*>(self)->samples.push_back(channels[1][i]);
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  };
  auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* self) {
    auto* d = static_cast<Decoded*>(self);
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
      d->bits = m->data.stream_info.bits_per_sample;
      d->total = m->data.stream_info.total_samples;
    }
    for (unsigned i = 0; m->type == FLAC__METADATA_TYPE_VORBIS_COMMENT &&
                         i < m->data.vorbis_comment.num_comments; ++i) {
      const auto& c = m->data.vorbis_comment.comments[i];
      d->comments.emplace_back(reinterpret_cast<const char*>(c.entry), c.length);
    }
  };
  auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {
    ADD_FAILURE() << "FLAC decoder error";
  };
  EXPECT_EQ(FLAC__stream_decoder_init_file(decoder, path.c_str(), write, metadata, error, &d),
            FLAC__STREAM_DECODER_INIT_STATUS_OK);
  EXPECT_TRUE(FLAC__stream_decoder_process_until_end_of_stream(decoder));
  FLAC__stream_decoder_delete(decoder);
  return d;
}

// Each sample as the WAV file holds it, as a signed integer (s16, s24) or a float's bits.
std::vector<int32_t> WavSamples(const std::string& data, unsigned bytes) {
  std::vector<int32_t> s;
  for (size_t at = 0; at + bytes <= data.size(); at += bytes) {
    const uint32_t v = Le(data, at, static_cast<int>(bytes));
    s.push_back(bytes == 4 ? static_cast<int32_t>(v)
                           : static_cast<int32_t>(v << (32 - 8 * bytes)) >> (32 - 8 * bytes));
  }
  return s;
}

}  // namespace

TEST(AudioOutput, WavFormatsCarryTheirSamplesAndTheTags) {
  TempDir dir;
  // Untagged 16-bit: the plain 44-byte header of old; the length is rewritten when it differs.
  const std::string plain = ReadAll(Write(dir.File("a.wav"), {}, {}, 99));
  EXPECT_EQ(plain.size(), 44 + kFrames.size() * 4);
  EXPECT_EQ(Le(plain, 4, 4), plain.size() - 8);
  EXPECT_EQ(WavSamples(Chunks(plain)["data"], 2),
            (std::vector<int32_t>{0, 0, 12345, -1, 32767, -32768, 32767, -32768, -12, 7}));

  const std::string s24 = ReadAll(Write(dir.File("b.wav"), {.sample = SampleFormat::kS24}, kTags));
  auto c = Chunks(s24);
  EXPECT_EQ(Le(c["fmt "], 0, 2), 1u);    // PCM
  EXPECT_EQ(Le(c["fmt "], 12, 2), 6u);   // block
  EXPECT_EQ(Le(c["fmt "], 14, 2), 24u);  // bits
  EXPECT_EQ(WavSamples(c["data"], 3),
            (std::vector<int32_t>{0, 0, 12345 << 8, -256, 0x7FFF00, -0x800000, 0x7FFFFF,
                                  -0x800000, -12 << 8, 7 << 8}));
  ASSERT_EQ(c["LIST"].substr(0, 4), "INFO");
  auto info = Chunks(c["LIST"], 4);
  EXPECT_EQ(info["INAM"], std::string("Starting Point") + '\0');
  EXPECT_EQ(info["IPRD"], std::string("Nemesis 2") + '\0');
  EXPECT_EQ(info["IART"], std::string("Ikariko") + '\0');
  EXPECT_EQ(info["ICRD"], std::string("1987") + '\0');
  EXPECT_EQ(info["ICMT"], std::string("MSX") + '\0');
  EXPECT_EQ(info["ISFT"], std::string("vorla") + '\0');
  EXPECT_EQ(Le(s24, 4, 4), s24.size() - 8);

  const std::string f32 = ReadAll(Write(dir.File("c.wav"), {.sample = SampleFormat::kF32}, {}));
  c = Chunks(f32);
  EXPECT_EQ(Le(c["fmt "], 0, 2), 3u);  // IEEE float
  EXPECT_EQ(Le(c["fmt "], 14, 2), 32u);
  EXPECT_EQ(Le(c["fact"], 0, 4), kFrames.size());
  EXPECT_EQ(c.count("LIST"), 0u);
  const std::vector<int32_t> bits = WavSamples(c["data"], 4);
  for (size_t i = 0; i < bits.size(); ++i) {
    float value;
    std::memcpy(&value, &bits[i], 4);
    const int32_t expected = i % 2 == 0 ? kFrames[i / 2].left : kFrames[i / 2].right;
    EXPECT_EQ(value, static_cast<float>(expected / 32768.0)) << i;  // 40000: 1.22, unclipped
  }
}

TEST(AudioOutput, ARawFileAloneCountsWhatA16BitOutputWouldClip) {
  TempDir dir;
  AudioOutput out;
  std::string error;
  ASSERT_TRUE(out.OpenRaw(dir.File("out.s32"), &error)) << error;
  EXPECT_TRUE(out.Write(kFrames.data(), static_cast<int32_t>(kFrames.size())));
  EXPECT_TRUE(out.Close(&error)) << error;
  EXPECT_EQ(out.clipped_samples(), 2u);  // 40000 and -40000; 32767 and -32768 fit
  EXPECT_TRUE(out.clipped_would_be());
}

TEST(AudioOutput, FlacDecodesToTheWavSamplesWithTheTags) {
  TempDir dir;
  for (const SampleFormat sample : {SampleFormat::kS16, SampleFormat::kS24}) {
    const unsigned bytes = sample == SampleFormat::kS16 ? 2 : 3;
    const std::vector<int32_t> wav = WavSamples(
        Chunks(ReadAll(Write(dir.File("x.wav"), {.sample = sample}, kTags)))["data"], bytes);
    const Decoded flac =
        DecodeFlac(Write(dir.File("x.flac"), {AudioContainer::kFlac, sample}, kTags));
    EXPECT_EQ(flac.bits, bytes * 8);
    EXPECT_EQ(flac.total, kFrames.size());
    EXPECT_EQ(flac.samples, wav);
    EXPECT_EQ(flac.comments,
              (std::vector<std::string>{"TITLE=Starting Point", "ALBUM=Nemesis 2", "SYSTEM=MSX",
                                        "ARTIST=Ikariko", "DATE=1987"}));
  }
#ifndef _WIN32
  // Into a pipe, which cannot seek back: the stream is whole all the same.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string piped;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) piped.append(buffer, n);
  });
  Write("/proc/self/fd/" + std::to_string(fds[1]), {AudioContainer::kFlac}, kTags);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  {
    std::ofstream(dir.File("piped.flac"), std::ios::binary) << piped;
  }
  const Decoded flac = DecodeFlac(dir.File("piped.flac"));
  EXPECT_EQ(flac.total, kFrames.size());
  EXPECT_EQ(flac.samples.size(), kFrames.size() * 2);
#endif
}

TEST(AudioOutput, FormatsFollowTheNameAndRefuseWhatCannotBeWritten) {
  struct Case {
    std::string path;
    std::string format;
    bool ok;
    AudioFormat expected;
  };
  const AudioFormat wav16, flac16{AudioContainer::kFlac}, flac24{AudioContainer::kFlac,
                                                                 SampleFormat::kS24};
  for (const Case& c : std::vector<Case>{
           {"a.wav", "", true, wav16},           {"a.WAVE", "wav", true, wav16},
           {"a.Flac", "", true, flac16},         {"a.flac", "s24", true, flac24},
           {"-", "flac,s24", true, flac24},      {"noext", "", true, wav16},
           {"a.out", "flac", true, flac16},      {"", "f32", true, {.sample = SampleFormat::kF32}},
           {"a.mp3", "", false, {}},             {"a.OGG", "", false, {}},
           {"a.opus", "flac", false, {}},        {"a.raw", "", false, {}},
           {"a.wav", "flac", false, {}},         {"a.flac", "wav", false, {}},
           {"a.flac", "f32", false, {}},         {"-", "flac,f32", false, {}}}) {
    FormatRequest request;
    AudioFormat format;
    std::string error;
    ASSERT_TRUE(ParseFormatRequest(c.format.empty() ? "s16" : c.format, &request, &error));
    if (c.format.empty()) request.sample.reset();
    EXPECT_EQ(ChooseAudioFormat(c.path, request, &format, &error), c.ok) << c.path << " " << error;
    if (c.ok) {
      EXPECT_EQ(format.container, c.expected.container) << c.path;
      EXPECT_EQ(format.sample, c.expected.sample) << c.path;
    } else {
      EXPECT_NE(error.find(c.path == "-" ? "--format" : c.path), std::string::npos) << error;
    }
  }
  FormatRequest request;
  std::string error;
  for (const char* wrong : {"mp3", "s16,s24", "flac,wav", "flac,", "", "s24,flac,wav"}) {
    EXPECT_FALSE(ParseFormatRequest(wrong, &request, &error)) << wrong;
    EXPECT_NE(error.find("--format"), std::string::npos);
  }
}
