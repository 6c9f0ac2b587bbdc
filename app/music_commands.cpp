#include "app/music_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "app/messages.h"
#include "common/ascii.h"
#include "app/music_options.h"
#include "music/music_info.h"
#include "music/music_info_json.h"
#include "music/music_reader.h"
#include "output/audio_format.h"
#include "text/clock_text.h"
#include "output/output_file.h"
#include "player/board_retune.h"
#include "player/music_play.h"
#include "player/music_render.h"
#include "player/terminal.h"
#include "player/voices.h"
#include "settings/board_settings.h"
#include "text/shown_text.h"

namespace {

// Reads the music file and turns the arguments into run options; prints what the reader
// skipped and found wrong. Returns 0 or the exit status of a failure.
// streamed: the file's bytes when they were read already (a pipe gives them once), or nullptr.
int PrepareMusic(const std::string& path, std::vector<uint8_t>* streamed, const MusicArgs& args,
                 const std::string& module_path, MusicLog* log, MusicRunOptions* options) {
  std::string error;
  VoiceSet mute;
  VoiceSet solo;
  if (!ParseVoiceList(args.mute, &mute, &error)) return Usage("--mute: " + error);
  if (!ParseVoiceList(args.solo, &solo, &error)) return Usage("--solo: " + error);
  if (args.resampler != "soxr" && args.resampler != "none") {
    return Usage("--resampler: '" + args.resampler + "' is neither soxr nor none");
  }
  if (error = ApplyLevels(args.levels, args.board, &options->chips); !error.empty()) {
    return Usage(error);
  }
  if (streamed != nullptr ? !ReadMusicBytes(streamed, path, log, &error)
                          : !ReadMusicFile(path, log, &error)) {
    return Fail(error);
  }
  for (const std::string& line : MusicReportLines(*log)) {
    Tell(path + ": " + line);
  }
  if (log->total_ticks == 0) {
    return Fail(path + ": nothing to play: the commands hold no time");
  }
  const VoiceSet voices = VoicesOfLog(*log);
  if (voices.none()) {
    Tell(path + ": warning: no YM2151 or AY-3-8910 in the file: the board plays nothing of it, "
         "the output is silent");
  }
  options->playback.rate = args.rate;
  options->playback.loops = args.loops;
  options->playback.fade_seconds = args.fade;
  options->playback.max_seconds = args.length;
  options->playback.start_seconds = args.start;
  options->playback.speed = args.speed;
  if (args.start > 0 && SongFrames(*log, options->playback) == 0) {
    PlaybackOptions whole = options->playback;
    whole.start_seconds = 0;
    whole.max_seconds = 0;
    return Fail(path + ": --start " + FormatClock(args.start) + " is past the song's end (" +
                FormatClock(static_cast<double>(SongFrames(*log, whole)) / args.rate) + ")");
  }
  if (args.as_written && !args.board) return Usage("--as-written applies with --board only");
  if (args.chip_sound && !args.board) {
    return Usage("--chip-sound applies to board scripts, and to music with --board (chips mode "
                 "always sounds as the chips did)");
  }
  options->board = args.board;
  options->as_written = args.as_written;
  if (args.board && !args.as_written) {
    for (const std::string& note : BoardRetune::Notes(*log)) Tell(path + ": " + note);
  }
  // none: the FM at the output rate, the PSGs sampled, every PSG on the YM2149 curve.
  options->chips.resample = args.resampler == "soxr";
  options->chips.ay_curve = options->chips.resample;
  options->module_path = module_path;
  options->voices = SelectVoices(solo, mute);
  if (voices.any() && (voices & options->voices).none()) {
    if (solo.any()) {
      std::string names;
      for (int v = 0; v < kVoiceCount; ++v) {
        if (voices[v]) names += (names.empty() ? "" : ",") + VoiceName(v);
      }
      return Fail(path + ": --solo and --mute leave none of the file's voices sounding (it has " +
                  names + ")");
    }
    Tell(path + ": note: --mute leaves none of the file's voices: the output is silent");
  }
  return kDone;
}

std::string DefaultWavPath(const std::string& input, const AudioFormat& format) {
  return std::filesystem::path(input).stem().string() + AudioExtension(format.container);
}

// The files a music render writes: the mix and one file a voice in the stems folder.
std::vector<std::string> MusicOutputs(const std::string& wav, const std::string& raw,
                                      const std::string& stems, const AudioFormat& format) {
  std::vector<std::string> outputs = {wav, raw};
  if (!stems.empty()) {
    for (int v = 0; v < kVoiceCount; ++v) outputs.push_back(StemPath(stems, v, format));
  }
  return outputs;
}

// Names the output of each song after it (STEM.wav, or STEM.flac) in `folder` ("" for the
// current one); two songs of one stem get distinct names (STEM-2.wav), told apart as a file
// system that ignores case would. Linear: a set of the names taken, and a counter a stem.
std::vector<std::string> SongOutputNames(const std::vector<std::string>& songs,
                                         const std::string& folder, const std::string& extension) {
  std::vector<std::string> names;
  std::unordered_set<std::string> taken;
  std::unordered_map<std::string, int> next;  // by stem: the number its next name tries first
  for (const std::string& song : songs) {
    const std::string stem = std::filesystem::path(song).stem().string();
    int& n = next.try_emplace(AsciiLower(stem), 1).first->second;
    for (;; ++n) {
      const std::string name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + extension;
      if (!taken.insert(AsciiLower(name)).second) continue;
      names.push_back(folder.empty() ? name : (std::filesystem::path(folder) / name).string());
      break;
    }
  }
  return names;
}

// What render refuses for a list of songs: options of one output file or of board scripts, and
// a board script among the inputs. "" or the message.
std::string SongListRefusal(const CommandLine& c, const InputList& list) {
  if (!c.options.raw_path.empty()) return "--raw names one file: give it one input";
  if (!c.render_args.stems.empty()) return "--stems takes one song: give it one input";
  if (c.options.wav_path == "-") {
    return "-o -: several songs cannot go to standard output; name a folder for them";
  }
  for (CLI::Option* o : c.script_only) {
    if (o->count() > 0) return o->get_name() + " applies to a board script, rendered on its own";
  }
  for (const std::string& file : list.files) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec) && !IsMusicFile(file)) {
      return file + ": not a music file (.vgm, .vgz, .s98): several inputs are music files; a "
             "board script is rendered on its own";
    }
  }
  return "";
}

// -o with several songs: the folder they go to, made when missing (one level). "" or the
// message.
std::string PrepareSongFolder(const std::string& folder) {
  std::error_code ec;
  if (folder.empty() || std::filesystem::is_directory(folder, ec)) return "";
  if (std::filesystem::exists(folder, ec)) {
    return "-o " + folder + ": not a folder: with several songs -o names the folder they go to";
  }
  // Another run may make it at the same moment: a folder there by now is as good.
  if (!std::filesystem::create_directory(folder, ec) && !std::filesystem::is_directory(folder)) {
    return "-o " + folder + ": cannot make the folder: " + ec.message();
  }
  return "";
}

// Reads and plays one song of the list; kDone once it played, with how it ended in *end.
// A song of a list shows its place in it on a terminal.
int PlaySong(const CommandLine& c, const std::string& path, size_t index, size_t count,
             PlayEnd* end) {
  if (count > 1 && StdoutIsTerminal()) {
    const std::string place = std::to_string(index + 1) + "/" + std::to_string(count);
    std::printf("song %s: %s\n", place.c_str(),
                ShownText(std::filesystem::path(path).filename().string()).c_str());
    std::fflush(stdout);
  }
  MusicLog log;
  MusicRunOptions run;
  if (int status = PrepareMusic(path, nullptr, c.play_args, c.module_path, &log, &run);
      status != kDone) {
    return status;
  }
  // The board's register log, if it keeps one, may not be a file the run reads.
  run.run_files.reads = RunReads(path, c.module_path);
  std::string error;
  if (!PlayMusic(log, run, end, &error)) return Fail(error);
  return kDone;
}

}  // namespace

int RenderMusicFile(const std::string& path, std::vector<uint8_t>* streamed, const MusicArgs& args,
                    const std::string& module_path, std::string wav_path,
                    const std::string& raw_path, Replace replace) {
  AudioFormat format;
  if (const std::string e = ChooseMusicFormat(args, wav_path, &format); !e.empty()) {
    return Usage(e);
  }
  if (wav_path.empty() && raw_path.empty() && args.stems.empty()) {
    wav_path = DefaultWavPath(path, format);
    std::error_code ec;
    if (replace != Replace::kAny && std::filesystem::exists(wav_path, ec)) {
      return Fail(wav_path + " exists: name the output with -o, or give --overwrite to replace it");
    }
    if (replace != Replace::kAny) replace = Replace::kNone;  // found free: a file there later stays
  }
  const std::vector<std::string> outputs = MusicOutputs(wav_path, raw_path, args.stems, format);
  const std::vector<RunFile> reads = RunReads(path, module_path);
  if (const std::string clash = OutputClash(reads, outputs); !clash.empty()) {
    return Fail(clash);
  }
  SayOnStandardError(outputs);
  MusicLog log;
  MusicRunOptions options;
  if (int status = PrepareMusic(path, streamed, args, module_path, &log, &options);
      status != kDone) {
    return status;
  }
  options.output = format;
  options.replace = replace;
  // The board is told the run's files, which its register log, if it keeps one, may not be,
  // and its switches.
  options.run_files = {reads, outputs};
  if (args.fm_timers) options.switches[kFmTimersKey] = "1";
  if (args.chip_sound) options.switches[kChipSoundKey] = "1";
  MusicRenderResult result;
  std::string error;
  if (!RenderMusic(log, options, wav_path, raw_path, args.stems, &result, &error)) {
    return Fail(error);
  }
  if (!wav_path.empty() || !raw_path.empty()) {
    const std::string& name = !wav_path.empty() ? wav_path : raw_path;
    const bool plain = wav_path.empty() || (format.container == AudioContainer::kWav &&
                                            format.sample == SampleFormat::kS16);
    std::fprintf(g_says, "wrote %s: %s (%llu frames at %u Hz), %s%s mode\n",
                 ShownText(name).c_str(), FormatClock(result.seconds).c_str(),
                 static_cast<unsigned long long>(result.frames), args.rate,
                 plain ? "" : (AudioFormatName(format) + ", ").c_str(),
                 args.board ? "board" : "chips");
    PrintLevels(result);
  }
  if (!args.stems.empty()) {
    for (const std::string& stem : result.stems) {
      std::fprintf(g_says, "stem %s\n", ShownText(stem).c_str());
    }
    if (!result.silent_voices.empty()) {
      std::string names;
      for (const std::string& v : result.silent_voices) names += (names.empty() ? "" : ", ") + v;
      std::fprintf(g_says, "silent, no stem: %s\n", names.c_str());
    }
  }
  return kDone;
}

// Tells what was skipped of the inputs; true when anything was.
bool TellProblems(const InputList& list) {
  for (const std::string& problem : list.problems) Tell(problem);
  return !list.problems.empty();
}

// Renders each song of the list to its own WAV; a song that fails is reported and the others
// still render.
int RenderSongs(const CommandLine& c, const InputList& list) {
  bool failed = TellProblems(list);
  if (list.files.empty()) return kFailed;
  if (const std::string refusal = SongListRefusal(c, list); !refusal.empty()) {
    return Usage(refusal);
  }
  // The folder gives no extension to go by: the files are what --format says.
  AudioFormat format;
  if (const std::string e = ChooseMusicFormat(c.render_args, "", &format); !e.empty()) {
    return Usage(e);
  }
  if (const std::string e = PrepareSongFolder(c.options.wav_path); !e.empty()) return Fail(e);
  const std::vector<std::string> names =
      SongOutputNames(list.files, c.options.wav_path, AudioExtension(format.container));
  for (const std::string& name : names) {
    std::error_code ec;
    if (!c.overwrite && std::filesystem::exists(name, ec)) {
      return Fail(name + " exists: give -y (--overwrite) to replace it; nothing was rendered");
    }
  }
  // Every output against every input of the run and every other output, before anything is
  // written: a song whose output would destroy a file of the run is told and left out.
  std::vector<RunFile> reads = RunReads(list.files.front(), c.module_path);
  for (size_t i = 1; i < list.files.size(); ++i) reads.push_back({list.files[i], "the input"});
  const std::vector<std::string> clashes = OutputClashes(reads, names);
  for (size_t i = 0; i < list.files.size(); ++i) {
    if (!clashes[i].empty()) {
      Tell(list.files[i] + ": not rendered: " + clashes[i]);
      failed = true;
      continue;
    }
    std::vector<uint8_t> streamed;
    const bool stream = IsStream(list.files[i]);
    if (std::string error; stream && !ReadFileBytes(list.files[i], &streamed, &error)) {
      Tell(error);
      failed = true;
      continue;
    }
    const int status = RenderMusicFile(list.files[i], stream ? &streamed : nullptr, c.render_args,
                                       c.module_path, names[i], "",
                                       c.overwrite ? Replace::kAny : Replace::kNone);
    if (status == kUsage) return status;
    failed = failed || status != kDone;
  }
  return failed ? kFailed : kDone;
}

// Plays the songs in order; n and b (kNext, kPrevious) move along the list, the first staying
// first. A song that fails is reported and skipped, and the run then ends with status 1.
int PlaySongs(const CommandLine& c, const std::vector<std::string>& songs, bool failed) {
  std::vector<bool> song_failed(songs.size(), false);
  bool back = false;
  for (size_t i = 0; i < songs.size();) {
    PlayEnd end = PlayEnd::kFinished;
    const int status = PlaySong(c, songs[i], i, songs.size(), &end);
    if (status == kUsage) return status;
    if (status != kDone) {
      failed = true;
      song_failed[i] = true;
      // A song that fails is passed over the way the list was going; going back, on when
      // nothing before it plays.
      const size_t next = NextSong(song_failed, i, back);
      i = next != i ? next : NextSong(song_failed, i, false);
      continue;
    }
    if (end == PlayEnd::kInterrupted) return 130;
    if (end == PlayEnd::kQuit) break;
    back = end == PlayEnd::kPrevious;
    i = NextSong(song_failed, i, back);
  }
  return failed ? kFailed : kDone;
}

// A file's header and tag; a list gets a line naming each file before it. False once the file
// could not be read (told).
bool ShowMusicInfo(const InputList& list, size_t i, bool json) {
  if (list.many && !json) {
    std::printf("%s==> %s <==\n", i > 0 ? "\n" : "", ShownText(list.files[i]).c_str());
  }
  MusicLog log;
  std::string error;
  if (!ReadMusicFile(list.files[i], &log, &error)) {
    std::fflush(stdout);
    Tell(error);
    return false;
  }
  std::string text = json ? MusicInfoJson(log, list.files[i]) : FormatMusicInfo(log);
  // What --board makes of the file's clocks.
  if (!json) {
    for (const std::string& note : BoardRetune::Notes(log)) text += note + "\n";
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return true;
}
