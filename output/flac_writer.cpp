#include "output/flac_writer.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <cerrno>
#include <climits>
#include <utility>

namespace {

constexpr unsigned kCompressionLevel = 5;
constexpr uint64_t kSecondsBetweenSeekPoints = 10;

FLAC__StreamMetadata* VorbisComments(const AudioTags& tags) {
  FLAC__StreamMetadata* block = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (block == nullptr) return nullptr;
  const std::pair<const char*, const std::string*> fields[] = {
      {"TITLE", &tags.title},   {"ALBUM", &tags.game}, {"SYSTEM", &tags.system},
      {"ARTIST", &tags.author}, {"DATE", &tags.date}};
  for (const auto& [name, value] : fields) {
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    // A value that is not UTF-8 is left out rather than written broken.
    if (value->empty() ||
        !FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name,
                                                                        value->c_str())) {
      continue;
    }
    FLAC__metadata_object_vorbiscomment_append_comment(block, entry, false);
  }
  return block;
}

}  // namespace

FlacWriter::~FlacWriter() { Drop(); }

void FlacWriter::Drop() {
  dropped_ = true;
  if (encoder_ != nullptr) FLAC__stream_encoder_delete(encoder_);
  encoder_ = nullptr;
  for (FLAC__StreamMetadata*& block : metadata_) {
    if (block != nullptr) FLAC__metadata_object_delete(block);
    block = nullptr;
  }
}

struct FlacWriter::Callbacks {
  static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*, const FLAC__byte bytes[],
                                              size_t size, uint32_t, uint32_t, void* self) {
    auto* w = static_cast<FlacWriter*>(self);
    if (w->dropped_) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    errno = 0;
    if (std::fwrite(bytes, 1, size, w->stream_) != size) {
      w->write_errno_ = errno != 0 ? errno : EIO;
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    w->position_ += size;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }

  static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                            void* self) {
    auto* w = static_cast<FlacWriter*>(self);
    if (w->dropped_) return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    // The encoder seeks back only to its metadata at the start of the file, which need not be
    // the start of the stream.
    errno = 0;
    if (offset > LONG_MAX - w->origin_ ||
        std::fseek(w->stream_, static_cast<long>(w->origin_ + offset), SEEK_SET) != 0) {
      w->write_errno_ = errno != 0 ? errno : EIO;
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
    w->position_ = offset;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  }

  static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                            void* self) {
    *offset = static_cast<FlacWriter*>(self)->position_;
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }
};

bool FlacWriter::Open(std::FILE* stream, bool seekable, uint64_t origin, unsigned bits,
                      uint32_t rate, uint64_t frames, const AudioTags& tags, std::string* error) {
  stream_ = stream;
  origin_ = origin;
  encoder_ = FLAC__stream_encoder_new();
  metadata_[0] = VorbisComments(tags);
  unsigned blocks = 1;
  if (seekable && frames > 0) {
    metadata_[1] = FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE);
    if (metadata_[1] == nullptr ||
        !FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
            metadata_[1], kSecondsBetweenSeekPoints * rate, frames) ||
        !FLAC__metadata_object_seektable_template_sort(metadata_[1], true)) {
      *error = "out of memory";
      return false;
    }
    blocks = 2;
  }
  if (encoder_ == nullptr || metadata_[0] == nullptr) {
    *error = "out of memory";
    return false;
  }
  FLAC__stream_encoder_set_channels(encoder_, 2);
  FLAC__stream_encoder_set_bits_per_sample(encoder_, bits);
  FLAC__stream_encoder_set_sample_rate(encoder_, rate);
  FLAC__stream_encoder_set_compression_level(encoder_, kCompressionLevel);
  FLAC__stream_encoder_set_total_samples_estimate(encoder_, frames);
  FLAC__stream_encoder_set_metadata(encoder_, metadata_, blocks);
  const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
      encoder_, &Callbacks::Write, seekable ? &Callbacks::Seek : nullptr,
      seekable ? &Callbacks::Tell : nullptr, nullptr, this);
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    *error = write_errno_ != 0 ? why()
                               : std::string("the FLAC encoder refused to start: ") +
                                     FLAC__StreamEncoderInitStatusString[status];
    return false;
  }
  return true;
}

bool FlacWriter::Write(const int32_t* samples, size_t frames) {
  return encoder_ != nullptr &&
         FLAC__stream_encoder_process_interleaved(encoder_, samples,
                                                  static_cast<uint32_t>(frames));
}

bool FlacWriter::Finish() {
  if (encoder_ == nullptr) return false;
  const bool ok = FLAC__stream_encoder_finish(encoder_);
  if (ok) Drop();
  return ok;
}

std::string FlacWriter::why() const {
  if (encoder_ == nullptr) return "the FLAC encoder is gone";
  return std::string("FLAC encoder: ") +
         FLAC__stream_encoder_get_resolved_state_string(encoder_);
}
