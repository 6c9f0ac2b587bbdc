// The options the music commands (render, play) share, as typed and as checked after parsing.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "output/audio_format.h"
#include "player/music_chips.h"

// The numeric options as typed; checked by their own rules after parsing.
struct NumberArgs {
  std::string rate;
  std::string chunk;
  std::string loops;
  std::string fade;
  std::string length;
  std::string start;
  std::string speed;
};

// The level options as typed; checked after parsing by ApplyLevels.
struct LevelArgs {
  std::string gain;
  std::string fm_gain;
  std::string psg_gain;
  std::string psg_stereo;
  std::string stereo_width;
};

// What a music command was given besides the file.
struct MusicArgs {
  uint32_t rate = 44100;
  int loops = 2;
  double fade = 3.0;
  double length = 0;
  double start = 0;
  double speed = 1;
  bool board = false;
  bool as_written = false;  // --as-written: board mode without the retune
  std::string resampler = "soxr";
  std::string mute;
  std::string solo;
  std::string stems;
  LevelArgs levels;
  std::string format;  // --format as typed
  bool fm_timers = false;  // render --fm-timers: the board's FM timers count
  bool chip_sound = false;  // render --chip-sound: the board sounds as its chips did
};

// Turns the typed numbers into values; "" or the message of the first that is wrong.
// chunk: the board script's largest Mix call, or nullptr for a command without one.
std::string CheckNumbers(const NumberArgs& n, MusicArgs* music, int32_t* chunk);

// The level options into chips options; "" or the message of the first that is wrong.
std::string ApplyLevels(const LevelArgs& levels, bool board, ChipsOptions* chips);

// The options render and play share; each added is kept in *options.
void AddPlaybackOptions(CLI::App* command, MusicArgs* args, NumberArgs* numbers,
                        std::vector<CLI::Option*>* options);

// What the render's audio is written as, from --format and the output's name (refused before
// anything is read or rendered); "" or the message.
std::string ChooseMusicFormat(const MusicArgs& args, const std::string& wav_path,
                              AudioFormat* format);
