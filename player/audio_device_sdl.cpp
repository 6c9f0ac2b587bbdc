#include <SDL.h>

#include "player/audio_device.h"

namespace {

constexpr const char* kNoDeviceHint =
    " (on a machine without sound, SDL_AUDIODRIVER=dummy plays to nothing and "
    "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=out.raw to a file)";

}  // namespace

AudioDevice::~AudioDevice() { Close(); }

bool AudioDevice::Open(uint32_t rate, Fill fill, std::string* error) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    *error = std::string("cannot start SDL audio: ") + SDL_GetError() + kNoDeviceHint;
    return false;
  }
  initialised_ = true;
  fill_ = std::move(fill);
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(rate);
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 2048;
  want.callback = &AudioDevice::Callback;
  want.userdata = this;
  SDL_AudioSpec have{};
  // No changes allowed: SDL converts to whatever the hardware wants.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    *error = std::string("cannot open an audio output: ") + SDL_GetError() + kNoDeviceHint;
    Close();
    return false;
  }
  buffer_frames_ = have.samples;
  return true;
}

void AudioDevice::Start() {
  if (device_ != 0) SDL_PauseAudioDevice(device_, 0);
}

void AudioDevice::Close() {
  if (device_ != 0) {
    SDL_CloseAudioDevice(device_);   // waits for a running callback to return
    device_ = 0;
  }
  if (initialised_) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    initialised_ = false;
  }
}

void AudioDevice::Callback(void* self, uint8_t* stream, int bytes) {
  auto* device = static_cast<AudioDevice*>(self);
  device->fill_(reinterpret_cast<int16_t*>(stream), bytes / 4);
}
