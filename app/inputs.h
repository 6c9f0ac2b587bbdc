// The inputs of the music commands as people give them: music files, folders of music files and
// .m3u/.m3u8 playlists, turned into the list of files to read, in order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct InputList {
  std::vector<std::string> files;     // the files to read, in order
  std::vector<std::string> problems;  // what was skipped and why, a message each, in order
  // More than one input, or a folder or playlist among them: the commands treat the files as a
  // list (render names a folder with -o), even when only one file came of it.
  bool many = false;
};

// A name ending .m3u or .m3u8, any case.
bool IsPlaylistName(const std::string& path);
// A name ending .vgm, .vgz or .s98, any case.
bool IsMusicName(const std::string& path);

// Expands the inputs in order. A file stays as given (its reader says when it cannot be read);
// a folder gives its music files in name order (not its subfolders); a playlist gives its
// entries, relative ones from the playlist's folder, with blank lines and "#" lines skipped.
// An entry that is a folder or a playlist is expanded in its turn; a playlist that would
// include itself again is skipped, and so is an entry that is no file (a device, a FIFO). A
// missing entry ("LIST:LINE: ENTRY: no such file"), a folder with no music and a playlist that
// gives no file are problems: reported, skipped, and so is an entry holding a NUL byte and a
// playlist that cannot be read. Lists and folders give up to 100,000 entries and files in all
// (a folder named again gives its files again, read once); past that the rest is not read, and
// that is a problem too.
InputList ExpandInputs(const std::vector<std::string>& inputs);

// The song a list plays after song `from` ended, passing over the songs that failed: on, the
// next one (failed.size() when none is left); back, the one before (`from` itself when none
// is: the first stays first).
size_t NextSong(const std::vector<bool>& failed, size_t from, bool back);

// True for a file that can be read only once: a pipe, a FIFO, a device (not a regular file or
// a folder).
bool IsStream(const std::string& path);
