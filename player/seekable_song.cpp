#include "player/seekable_song.h"

#include <algorithm>
#include <utility>

namespace {

constexpr uint64_t kFirstIntervalSeconds = 10;
// A copy of chips mode's chips is about half a megabyte, most of it its converter's: some 16 MB at
// most, however long the song plays; a seek back renders at most some 1/16 of what was played.
constexpr size_t kMaxSnapshots = 32;

}  // namespace

SeekableSong::SeekableSong(const MusicLog& log, const PlaybackOptions& playback, MakeChips make)
    : log_(log),
      playback_(playback),
      make_(std::move(make)),
      interval_(kFirstIntervalSeconds * std::max<uint32_t>(playback.rate, 1)) {}

SeekableSong::~SeekableSong() = default;

bool SeekableSong::Begin(std::string* error) {
  chips_ = make_(error);
  if (chips_ == nullptr) return false;
  player_ = std::make_unique<MusicPlayer>(log_, playback_, chips_.get());
  return true;
}

int32_t SeekableSong::Render(StereoFrame* frames, int32_t count) {
  const int32_t n = player_->Render(frames, count);
  TakeSnapshotIfDue();
  return n;
}

SeekableSong::Step SeekableSong::MoveToward(uint64_t frame, uint64_t budget, std::string* error) {
  frame = std::min(frame, player_->length());
  if (frame < player_->position() && !GoBack(frame, error)) return Step::kFailed;
  // Each step ends at a mark, so that the snapshots lie on them.
  const uint64_t position = player_->position();
  const uint64_t mark = (position / interval_ + 1) * interval_;
  player_->SkipTo(std::min({frame, position + std::max<uint64_t>(budget, 1), mark}));
  TakeSnapshotIfDue();
  return player_->position() >= frame ? Step::kThere : Step::kOnTheWay;
}

bool SeekableSong::GoBack(uint64_t frame, std::string* error) {
  auto after = snapshots_.upper_bound(frame);
  if (after != snapshots_.begin()) {
    const Snapshot& snapshot = std::prev(after)->second;
    // The snapshot stays as it is for the next seek: the song goes on from a copy of it.
    std::unique_ptr<MusicChips> chips = snapshot.chips->Clone();
    player_ = std::make_unique<MusicPlayer>(*snapshot.player, chips.get());
    chips_ = std::move(chips);
    return true;
  }
  // The old chips end first: a board keeping a register log lets go of it for the next.
  player_.reset();
  if (std::string failure = chips_->Finish(); !failure.empty() && failure_.empty()) {
    failure_ = failure;
  }
  chips_ = make_(error);
  if (chips_ == nullptr) return false;
  player_ = std::make_unique<MusicPlayer>(log_, playback_, chips_.get());
  return true;
}

void SeekableSong::TakeSnapshotIfDue() {
  const uint64_t position = player_->position();
  if (!copyable_ || position < interval_ || player_->finished()) return;
  // One snapshot between two marks.
  const uint64_t mark = position / interval_ * interval_;
  auto at = snapshots_.lower_bound(mark);
  if (at != snapshots_.end() && at->first < mark + interval_) return;
  Snapshot snapshot;
  snapshot.chips = chips_->Clone();
  if (snapshot.chips == nullptr) {
    copyable_ = false;
    return;
  }
  snapshot.player = std::make_unique<MusicPlayer>(*player_, snapshot.chips.get());
  snapshots_.emplace(position, std::move(snapshot));
  if (snapshots_.size() > kMaxSnapshots) Thin();
}

void SeekableSong::Thin() {
  interval_ *= 2;
  uint64_t kept_mark = UINT64_MAX;
  for (auto it = snapshots_.begin(); it != snapshots_.end();) {
    const uint64_t mark = it->first / interval_;
    if (mark == kept_mark) {
      it = snapshots_.erase(it);
    } else {
      kept_mark = mark;
      ++it;
    }
  }
}

std::string SeekableSong::Finish() {
  std::string failure = chips_ != nullptr ? chips_->Finish() : std::string();
  return !failure_.empty() ? failure_ : failure;
}
