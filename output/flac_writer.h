// FLAC through libFLAC's stream encoder, its bytes written to a stream that the caller holds (a
// file of output_file.h's door). The song's tags go in as Vorbis comments (TITLE, ALBUM the game,
// SYSTEM, ARTIST the author, DATE).
//
// The length is set up front, so a target that cannot seek back (a pipe, standard output) still
// gets a stream whose STREAMINFO gives the total; only a seekable one gets a seek table, the MD5
// of the samples and the frame sizes, which the encoder writes back at the end.
#pragma once

#include <FLAC/stream_encoder.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "output/audio_format.h"

class FlacWriter {
 public:
  FlacWriter() = default;
  ~FlacWriter();  // an unfinished stream is dropped: nothing more is written to the target
  FlacWriter(const FlacWriter&) = delete;
  FlacWriter& operator=(const FlacWriter&) = delete;

  // bits: 16 or 24. A seekable stream holds the file from `origin` on. False with the reason
  // (no target name in it).
  bool Open(std::FILE* stream, bool seekable, uint64_t origin, unsigned bits, uint32_t rate, uint64_t frames,
            const AudioTags& tags, std::string* error);
  // Interleaved left/right samples at the stream's bits; false from the first failure on.
  bool Write(const int32_t* samples, size_t frames);
  // Encodes what is left and completes the stream.
  bool Finish();

  // Why it failed: the errno of a failed write (0 for none), and the encoder's state.
  int write_errno() const { return write_errno_; }
  std::string why() const;

 private:
  struct Callbacks;  // what the encoder calls to write, seek and tell
  friend struct Callbacks;
  void Drop();

  FLAC__StreamEncoder* encoder_ = nullptr;
  FLAC__StreamMetadata* metadata_[2] = {nullptr, nullptr};
  std::FILE* stream_ = nullptr;
  uint64_t origin_ = 0;    // where the file starts in the stream
  uint64_t position_ = 0;  // where the next byte goes, from origin_
  int write_errno_ = 0;
  bool dropped_ = false;   // writes are ignored from here on
};
