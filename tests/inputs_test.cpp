// The music commands take files, folders and playlists as people give them, and `vorla FILE`
// plays: end to end, each test with a private copy of program and module. And how `play` moves
// along its list.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/inputs.h"
#include "tests/music_files.h"
#include "tests/temp_dir.h"
#include "tests/vorla_program.h"

namespace {

namespace fs = std::filesystem;

const std::string kDisk = "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=0 SDL_DISKAUDIOFILE=disk.raw";

// songs/: a.vgm and b.s98, a text file and a subfolder with music that is not played.
void MakeSongs(const VorlaProgram& vorla, const std::string& vgm, const std::string& s98) {
  fs::create_directories(vorla.File("songs/sub"));
  fs::copy_file(vgm, vorla.File("songs/a.vgm"));
  fs::copy_file(s98, vorla.File("songs/b.s98"));
  fs::copy_file(vgm, vorla.File("songs/sub/c.vgm"));
  WriteAll(vorla.File("songs/notes.txt"), "not music\n");
}

// Where `part` is in `text`, or npos.
size_t At(const std::string& text, const std::string& part) { return text.find(part); }

TEST(Inputs, FoldersPlaylistsAndSeveralSongs) {
  REQUIRE_TEST_FILE(deck, "vgm/ym2151/DeckTheHalls.vgm");
  REQUIRE_TEST_FILE(s98, "synthetic/opm_psg_v3.s98");
  VorlaProgram vorla;
  MakeSongs(vorla, deck, s98);
  fs::create_directory(vorla.File("lists"));
  // A byte-order mark, CR LF, an extended header and comments; a missing entry; a playlist
  // inside that names the outer one again.
  WriteAll(vorla.File("lists/mix.m3u"),
           "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:2,Test\r\n../songs/b.s98\r\n\r\n# comment\r\n"
           "missing.vgm\r\ninner.m3u8\r\n");
  WriteAll(vorla.File("lists/inner.m3u8"), "../songs/a.vgm\nmix.m3u\n");

  // A folder: its music in name order, not its subfolders.
  ProgramRun run = vorla.Exec("info songs");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LT(At(run.out, "==> songs/a.vgm <=="), At(run.out, "==> songs/b.s98 <==")) << run.out;
  EXPECT_NE(At(run.out, "\n\n==> songs/b.s98 <==\nformat            S98 version 3"),
            std::string::npos);
  EXPECT_EQ(At(run.out, "c.vgm"), std::string::npos);

  // The playlist: entries from its folder, the missing one said and skipped (status 1), the
  // loop broken.
  run = vorla.Exec("info lists/mix.m3u");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(At(run.err, "vorla: lists/mix.m3u:6: missing.vgm: no such file"), std::string::npos)
      << run.err;
  EXPECT_EQ(At(run.err, "no such file"), run.err.rfind("no such file")) << "only that one";
  EXPECT_NE(At(run.err, "lists/inner.m3u8:2: mix.m3u: a playlist that includes itself"),
            std::string::npos)
      << run.err;
  EXPECT_LT(At(run.out, "==> lists/../songs/b.s98 <=="), At(run.out, "==> lists/../songs/a.vgm"));
  EXPECT_EQ(At(run.out, "songs/a.vgm <==\n"), run.out.rfind("songs/a.vgm <==\n")) << "once";

  // Several songs render into a folder made for them, each named after its song; one stem
  // twice gets two names. An existing output stays without -y, and nothing is rendered.
  run = vorla.Exec("render songs lists/mix.m3u -o out --length 0.2");
  EXPECT_EQ(run.status, 1) << run.err;  // the missing entry
  for (const char* name : {"a.wav", "b.wav", "b-2.wav", "a-2.wav"}) {
    EXPECT_EQ(WavSamples(vorla.File("out/") + name).size(), 2u * 8820) << name;
  }
  EXPECT_EQ(ReadAll(vorla.File("out/a.wav")), ReadAll(vorla.File("out/a-2.wav")));
  EXPECT_NE(ReadAll(vorla.File("out/a.wav")), ReadAll(vorla.File("out/b.wav")));
  WriteAll(vorla.File("out/b.wav"), "mine");
  fs::remove(vorla.File("out/a.wav"));
  run = vorla.Exec("render songs -o out --length 0.2");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(At(run.err, "out/b.wav exists"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(vorla.File("out/a.wav")));
  EXPECT_EQ(vorla.Exec("render songs -o out --length 0.2 -y").status, 0);
  EXPECT_EQ(ReadAll(vorla.File("out/b.wav")), ReadAll(vorla.File("out/b-2.wav")));

  // A board script is not among several songs.
  WriteAll(vorla.File("script.board"), "wait 10\n");
  run = vorla.Exec("render script.board songs/a.vgm");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(At(run.err, "board script is rendered on its own"), std::string::npos) << run.err;

  // A file as the first word plays it; a word that is no file is still no subcommand.
  run = vorla.Exec("songs/b.s98 --loops 1 --fade 0", kDisk);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(ReadAll(vorla.File("disk.raw")).find_first_not_of('\0'), std::string::npos);
  run = vorla.Exec("plya songs/b.s98");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(At(run.err, "unknown subcommand 'plya'; did you mean 'play'?"), std::string::npos);
}

TEST(Inputs, NothingToReadIsAnErrorAndAFailedSongIsSkipped) {
  VorlaProgram vorla;
  const std::string s98 = vorla.File("tone.s98");
  SaveBytes(s98, PsgToneSong());
  fs::create_directory(vorla.File("empty"));
  WriteAll(vorla.File("empty/readme.txt"), "no music here\n");
  // A FIFO in a list would wait for a writer for ever: it is no file, and skipped.
  ASSERT_EQ(mkfifo(vorla.File("fifo.vgm").c_str(), 0600), 0);
  WriteAll(vorla.File("gone.m3u"), "a.vgm\n# none of these are here\nb.vgz\nfifo.vgm\n");
  for (const std::string command : {"play", "render", "info"}) {
    ProgramRun run = vorla.Exec(command + " empty", kDisk);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(At(run.err, "vorla: empty: no music files (.vgm, .vgz, .s98) in this folder"),
              std::string::npos)
        << command << "\n" << run.err;
    run = vorla.Exec(command + " gone.m3u", kDisk);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(At(run.err, "gone.m3u:3: b.vgz: no such file"), std::string::npos) << run.err;
    EXPECT_NE(At(run.err, "gone.m3u:4: fifo.vgm: not a file"), std::string::npos) << run.err;
    EXPECT_NE(At(run.err, "gone.m3u: the playlist gives no file to read"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(vorla.File("disk.raw")));

  // A song that cannot be read is said and skipped; the next one still plays.
  WriteAll(vorla.File("text.vgm"), "not music\n");
  ProgramRun run = vorla.Exec("play text.vgm '" + s98 + "' --loops 1 --fade 0", kDisk);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(At(run.err, "text.vgm: "), std::string::npos) << run.err;
  EXPECT_NE(ReadAll(vorla.File("disk.raw")).find_first_not_of('\0'), std::string::npos);
}

TEST(Inputs, MovingAlongAListPassesOverFailedSongs) {
  const std::vector<bool> none(3, false);
  EXPECT_EQ(NextSong(none, 0, false), 1u);
  EXPECT_EQ(NextSong(none, 2, false), 3u);  // the end of the list
  EXPECT_EQ(NextSong(none, 2, true), 1u);
  EXPECT_EQ(NextSong(none, 0, true), 0u);  // the first stays first
  const std::vector<bool> middle = {false, true, false};
  EXPECT_EQ(NextSong(middle, 0, false), 2u);
  EXPECT_EQ(NextSong(middle, 2, true), 0u);
  const std::vector<bool> first = {true, false, false};
  EXPECT_EQ(NextSong(first, 1, true), 1u);
  EXPECT_EQ(NextSong({false, false, true}, 1, false), 3u);
}

}  // namespace

TEST(Inputs, ListsThatNameEachOtherOverAndOverAreCut) {
  // 400 lines of a list of 400 entries: 160,000 entries, more than a run reads.
  TempDir dir;
  const std::string base = dir.path() + "/";
  WriteAll(base + "e.vgm", "");
  std::string wide;
  std::string nest;
  for (int i = 0; i < 400; ++i) {
    wide += "e.vgm\n";
    nest += "wide.m3u\n";
  }
  WriteAll(base + "wide.m3u", wide);
  WriteAll(base + "nest.m3u", nest);
  const InputList list = ExpandInputs({base + "nest.m3u"});
  EXPECT_LT(list.files.size(), 100000u);
  EXPECT_GT(list.files.size(), 99000u);
  ASSERT_EQ(list.problems.size(), 1u);
  EXPECT_NE(list.problems[0].find("more than 100000 files and playlist entries in all"),
            std::string::npos)
      << list.problems[0];

  // A folder's files count too: one folder of 100 songs named 2,000 times is cut at the cap.
  std::filesystem::create_directory(base + "d");
  for (int i = 0; i < 100; ++i) WriteAll(base + "d/s" + std::to_string(i) + ".vgm", "");
  std::string folders;
  for (int i = 0; i < 2000; ++i) folders += "d\n";
  WriteAll(base + "folders.m3u", folders);
  const InputList many = ExpandInputs({base + "folders.m3u"});
  // Each entry counts one and each of its files one: 990 entries whole, then 9 files of the next.
  EXPECT_EQ(many.files.size(), 990u * 100 + 9);
  ASSERT_EQ(many.problems.size(), 1u);
}
