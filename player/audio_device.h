// Live output to the speakers: 16-bit stereo at a given rate, pulled by the audio system's own
// thread through a fill callback, by SDL2 on every build (its dummy or disk driver serves
// headless runs: SDL_AUDIODRIVER=dummy, or =disk with SDL_DISKAUDIOFILE).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class AudioDevice {
 public:
  // Fills frames stereo frames (2 x frames interleaved samples). Runs on the audio thread.
  using Fill = std::function<void(int16_t* samples, int32_t frames)>;

  AudioDevice() = default;
  ~AudioDevice();
  AudioDevice(const AudioDevice&) = delete;
  AudioDevice& operator=(const AudioDevice&) = delete;

  // Opens the default output at rate; the callback starts with Start.
  bool Open(uint32_t rate, Fill fill, std::string* error);
  void Start();
  // Stops the callback and closes the output; safe to call twice.
  void Close();
  // Frames of one device buffer: how long the last samples take to be heard.
  uint32_t buffer_frames() const { return buffer_frames_; }

 private:
  static void Callback(void* self, uint8_t* stream, int bytes);

  Fill fill_;
  uint32_t device_ = 0;
  bool initialised_ = false;
  uint32_t buffer_frames_ = 0;
};
