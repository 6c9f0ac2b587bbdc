// A build without SDL2: there is no live output.
#include "player/audio_device.h"

AudioDevice::~AudioDevice() = default;

bool AudioDevice::Open(uint32_t, Fill, std::string* error) {
  *error = "this vorla was built without SDL2: live playback is not available (use 'render')";
  return false;
}

void AudioDevice::Start() {}
void AudioDevice::Close() {}
void AudioDevice::Callback(void*, uint8_t*, int) {}
