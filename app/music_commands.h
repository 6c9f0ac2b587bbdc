// The music commands' work: rendering music files and lists of them, playing lists of songs,
// printing music files' facts. Each returns an exit status (messages.h) and tells what failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/inputs.h"
#include "app/music_options.h"
#include "output/output_file.h"

// Renders one music file to wav_path and raw_path ("" for none; both "" and no stems: a file
// named after the input beside it, refused when it exists unless replace is Replace::kAny).
// replace: what the outputs may replace when they are put in place.
// streamed: the file's bytes when they were read already (a pipe gives them once), or nullptr.
int RenderMusicFile(const std::string& path, std::vector<uint8_t>* streamed, const MusicArgs& args,
                    const std::string& module_path, std::string wav_path,
                    const std::string& raw_path, Replace replace);

// Tells what was skipped of the inputs; true when anything was.
bool TellProblems(const InputList& list);

// Renders each song of the list to its own WAV; a song that fails is reported and the others
// still render.
int RenderSongs(const CommandLine& c, const InputList& list);

// Plays the songs in order; n and b (kNext, kPrevious) move along the list, the first staying
// first. A song that fails is reported and skipped, and the run then ends with status 1.
int PlaySongs(const CommandLine& c, const std::vector<std::string>& songs, bool failed);

// Prints the header and tag of song i of the list, as text or as a line of JSON; false once
// the file could not be read (told).
bool ShowMusicInfo(const InputList& list, size_t i, bool json);
