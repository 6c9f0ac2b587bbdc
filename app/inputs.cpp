#include "app/inputs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <unordered_map>

#include "common/ascii.h"

namespace {

namespace fs = std::filesystem;

// Far more than any list of songs needs (some 10,000 entries of 100 bytes).
constexpr uintmax_t kMaxPlaylistBytes = 1u << 20;
// Playlist entries and files of folders read in one run, all together: lists that name each
// other, or a folder, many times over would otherwise multiply into more than any run could
// hold.
constexpr size_t kMaxListEntries = 100000;

std::string LowerExtension(const std::string& path) {
  return AsciiLower(fs::path(path).extension().string());
}

std::string Trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// A playlist's bytes (at most kMaxPlaylistBytes are asked for); "" or why they cannot be read.
std::string ReadText(const std::string& path, std::string* text) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return std::strerror(errno);
  char block[65536];
  size_t got = 0;
  while (text->size() <= kMaxPlaylistBytes &&
         (got = std::fread(block, 1, sizeof block, in)) > 0) {
    text->append(block, got);
  }
  const int failure = std::ferror(in) ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(in);
  if (failure != 0) return std::strerror(failure);
  if (text->size() > kMaxPlaylistBytes) return "larger than 1 MiB";
  return "";
}

class Expander {
 public:
  explicit Expander(InputList* list) : list_(list) {}

  void AddInput(const std::string& input) {
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
      list_->many = true;
      AddFolder(input, input);
    } else if (IsPlaylistName(input) && fs::is_regular_file(input, ec)) {
      list_->many = true;
      AddPlaylist(input, input);
    } else {
      list_->files.push_back(input);
    }
  }

 private:
  // where: the folder's name in messages ("LIST:LINE: ENTRY" for a playlist's entry). Each file
  // a folder gives counts against the cap, however often the folder is named; a folder is read
  // once, and named again gives the same files.
  void AddFolder(const std::string& folder, const std::string& where) {
    std::error_code ec;
    const fs::path key = fs::weakly_canonical(folder, ec);
    auto known = folders_.find(key.string());
    if (known == folders_.end()) known = folders_.emplace(key.string(), ReadFolder(folder)).first;
    const Folder& found = known->second;
    if (!found.problem.empty()) {
      list_->problems.push_back(where + ": " + found.problem);
      return;
    }
    for (const std::string& name : found.names) {
      if (!Count(where)) return;
      list_->files.push_back((fs::path(folder) / name).string());
    }
  }

  struct Folder {
    std::vector<std::string> names;  // its music files, in name order
    std::string problem;             // why it gives none
  };

  static Folder ReadFolder(const std::string& folder) {
    Folder found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code status_ec;
      const std::string name = it->path().filename().string();
      if (IsMusicName(name) && fs::is_regular_file(it->path(), status_ec)) {
        found.names.push_back(name);
      }
    }
    if (ec) {
      found.problem = "cannot read the folder: " + ec.message();
    } else if (found.names.empty()) {
      found.problem = "no music files (.vgm, .vgz, .s98) in this folder";
    }
    std::sort(found.names.begin(), found.names.end());
    return found;
  }

  // One more entry of a list or file of a folder; false (told once) past the cap.
  bool Count(const std::string& where) {
    if (cut_) return false;
    if (++entries_ <= kMaxListEntries) return true;
    cut_ = true;
    list_->problems.push_back(where + ": more than " + std::to_string(kMaxListEntries) +
                              " files and playlist entries in all: the rest are not read");
    return false;
  }

  void AddPlaylist(const std::string& playlist, const std::string& where) {
    std::error_code ec;
    const fs::path self = fs::weakly_canonical(playlist, ec);
    if (std::find(open_.begin(), open_.end(), self) != open_.end()) {
      list_->problems.push_back(where + ": a playlist that includes itself: skipped");
      return;
    }
    if (const uintmax_t size = fs::file_size(playlist, ec); !ec && size > kMaxPlaylistBytes) {
      list_->problems.push_back(where + ": larger than 1 MiB: not read as a playlist");
      return;
    }
    std::string text;
    if (const std::string why = ReadText(playlist, &text); !why.empty()) {
      list_->problems.push_back(where + ": cannot read the playlist: " + why);
      return;
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    open_.push_back(self);
    const size_t before = list_->files.size();
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; !cut_ && std::getline(lines, line); ++number) {
      const std::string entry = Trimmed(line);
      if (entry.empty() || entry[0] == '#') continue;
      const std::string place = playlist + ":" + std::to_string(number);
      if (!Count(place)) break;
      if (entry.find('\0') != std::string::npos) {
        list_->problems.push_back(place + ": an entry holding a NUL byte: skipped");
        continue;
      }
      AddEntry(playlist, entry, place + ": " + entry);
    }
    open_.pop_back();
    if (!cut_ && list_->files.size() == before) {
      list_->problems.push_back(where + ": the playlist gives no file to read");
    }
  }

  void AddEntry(const std::string& playlist, const std::string& entry, const std::string& where) {
    fs::path path = fs::path(playlist).parent_path() / entry;
    if (fs::path(entry).is_absolute()) path = entry;
    std::error_code ec;
#ifndef _WIN32
    // A playlist made on Windows: its folders are separated by backslashes.
    if (!fs::exists(path, ec) && entry.find('\\') != std::string::npos) {
      std::string forward = entry;
      std::replace(forward.begin(), forward.end(), '\\', '/');
      path = fs::path(forward).is_absolute() ? fs::path(forward)
                                             : fs::path(playlist).parent_path() / forward;
    }
#endif
    const std::string name = path.string();
    if (fs::is_directory(path, ec)) {
      AddFolder(name, where);
    } else if (!fs::exists(path, ec)) {
      list_->problems.push_back(where + ": no such file");
    } else if (!fs::is_regular_file(path, ec)) {
      // A FIFO would wait for a writer, a device give endless bytes: a list names files.
      list_->problems.push_back(where + ": not a file (a device, FIFO or socket): skipped");
    } else if (IsPlaylistName(name)) {
      AddPlaylist(name, where);
    } else {
      list_->files.push_back(name);
    }
  }

  InputList* list_;
  std::vector<fs::path> open_;  // the playlists being read, outermost first
  std::unordered_map<std::string, Folder> folders_;  // each folder read, by its real name
  size_t entries_ = 0;          // entries and folders' files so far, all lists together
  bool cut_ = false;            // more than kMaxListEntries: nothing more is read
};

}  // namespace

bool IsPlaylistName(const std::string& path) {
  const std::string ext = LowerExtension(path);
  return ext == ".m3u" || ext == ".m3u8";
}

bool IsMusicName(const std::string& path) {
  const std::string ext = LowerExtension(path);
  return ext == ".vgm" || ext == ".vgz" || ext == ".s98";
}

InputList ExpandInputs(const std::vector<std::string>& inputs) {
  InputList list;
  list.many = inputs.size() > 1;
  Expander expander(&list);
  for (const std::string& input : inputs) expander.AddInput(input);
  return list;
}

size_t NextSong(const std::vector<bool>& failed, size_t from, bool back) {
  if (back) {
    for (size_t i = from; i-- > 0;) {
      if (!failed[i]) return i;
    }
    return from;
  }
  size_t i = from + 1;
  while (i < failed.size() && failed[i]) ++i;
  return i;
}

// True for a file that can be read only once: a pipe, a FIFO, a device (not a regular file or
// a folder).
bool IsStream(const std::string& path) {
  std::error_code ec;
  const std::filesystem::file_status st = std::filesystem::status(path, ec);
  return !ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st) &&
         !std::filesystem::is_directory(st);
}
