#include "player/live_song.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kVolumeStepDb = 1.5;
constexpr int kQuietestStep = -20;   // -30 dB
constexpr int kLoudestStep = 8;      // +12 dB
// Frames the worker renders between two looks at its requests: about a millisecond's work in
// chips mode, a few on the board.
constexpr uint64_t kStepFrames = 4096;

int16_t Clamp16(double v) {
  return static_cast<int16_t>(std::lround(std::clamp<double>(v, INT16_MIN, INT16_MAX)));
}

}  // namespace

LiveSong::LiveSong(const MusicLog& log, const MusicRunOptions& options,
                   const MusicChipMaker& maker)
    : song_(log, options.playback,
            [&log, &options, &maker](std::string* error) {
              return maker.Make(log, options.voices, error);
            }),
      facts_(log, options.playback, nullptr) {}

LiveSong::~LiveSong() { Stop(); }

bool LiveSong::Begin(std::string* error) {
  if (!song_.Begin(error)) return false;
  position_.store(facts_.start());
  // A song heard from its beginning starts at once, as a render does; one heard from further
  // in gets there in the worker, the sound silent until then.
  if (facts_.start() > 0) {
    target_ = facts_.start();
    seeking_.store(true);
  }
  worker_ = std::thread([this] { Work(); });
  return true;
}

void LiveSong::Fill(int16_t* samples, int32_t frames) {
  std::unique_lock<std::mutex> lock(song_mutex_, std::defer_lock);
  // A seek in the worker holds the song: the sound does not wait for it.
  if (seeking_.load() || paused_.load() || failed_.load() || !lock.try_lock()) {
    std::fill(samples, samples + 2 * static_cast<size_t>(frames), int16_t{0});
    return;
  }
  if (done_.load()) calls_after_end_.fetch_add(1);
  if (static_cast<size_t>(frames) > scratch_.size()) scratch_.resize(static_cast<size_t>(frames));
  // Past the end the player has zeroed the frames: silence.
  song_.Render(scratch_.data(), frames);
  const double gain = gain_.load();
  for (int32_t i = 0; i < frames; ++i) {
    const StereoFrame& f = scratch_[static_cast<size_t>(i)];
    samples[2 * i] = Clamp16(gain == 1.0 ? f.left : f.left * gain);
    samples[2 * i + 1] = Clamp16(gain == 1.0 ? f.right : f.right * gain);
  }
  Publish();
}

bool LiveSong::SeekTo(uint64_t frame) {
  if (frame >= facts_.length()) return false;
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    target_ = frame;
    seeking_.store(true);
  }
  request_changed_.notify_one();
  return true;
}

void LiveSong::Work() {
  std::unique_lock<std::mutex> request(request_mutex_);
  while (true) {
    request_changed_.wait(request, [this] { return stop_ || seeking_.load(); });
    if (stop_) return;
    const uint64_t target = target_;
    request.unlock();
    std::string error;
    SeekableSong::Step step;
    {
      std::lock_guard<std::mutex> lock(song_mutex_);
      step = song_.MoveToward(target, kStepFrames, &error);
      Publish();
    }
    request.lock();
    if (step == SeekableSong::Step::kFailed) {
      failure_ = error;
      failed_.store(true);
      seeking_.store(false);
    } else if (step == SeekableSong::Step::kThere && target_ == target) {
      seeking_.store(false);
    }
  }
}

void LiveSong::Stop() {
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    stop_ = true;
  }
  request_changed_.notify_one();
  if (worker_.joinable()) worker_.join();
}

std::string LiveSong::Finish() { return song_.Finish(); }

uint64_t LiveSong::destination() const {
  std::lock_guard<std::mutex> lock(request_mutex_);
  return seeking_.load() ? target_ : position_.load();
}

std::string LiveSong::failure() const {
  std::lock_guard<std::mutex> lock(request_mutex_);
  return failure_;
}

void LiveSong::Louder(int steps) {
  const int step = std::clamp(volume_step_.load() + steps, kQuietestStep, kLoudestStep);
  volume_step_.store(step);
  gain_.store(std::pow(10.0, step * kVolumeStepDb / 20));
}

double LiveSong::volume_db() const { return volume_step_.load() * kVolumeStepDb; }

void LiveSong::Publish() {
  const MusicPlayer& player = song_.player();
  position_.store(player.position());
  pass_.store(player.current_pass());
  done_.store(player.finished());
}
