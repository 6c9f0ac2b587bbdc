// The one door for every file the program writes (rendered audio, reports, stems, register logs).
//
// A regular target, or one that does not exist yet, is written beside itself under a new random
// name, created exclusively and never through a link, and put in place by a rename only when the
// run succeeds; until then whatever was there stays as it was. A target reached through a link
// is written where the link leads, and the link stays. A target that is no regular file (a
// terminal, a pipe or FIFO, a device, /dev/stdout, /proc/self/fd/N, or a link to one of them) is
// written directly as a stream and never replaced; a FIFO with no reader is an error, not a wait.
// "-" is standard output. What a finished file replaces is set by Replace: by default a target
// that was no file when it was opened is put in place only while it still is none, so a file
// that another program made there meanwhile is not replaced, and the file written is discarded
// with the reason.
//
// The run-level parts (a signal handler removing the temporary names of a run stopped by a
// signal, files completed by the module awaiting the run's end) are in output_run.h, which the
// module file does not link.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// What an output may replace when it is put in place.
enum class Replace {
  kNone,      // nothing: its name was found free when the run began
  kExisting,  // the file that was there when it was opened (one named on purpose)
  kAny,       // whatever is there by then (-y)
};

// How a file is opened besides its target.
struct OutputOptions {
  // Refused while another process writes the same regular file (a lock beside it,
  // "TARGET.lock", held until the file is put in place or discarded).
  bool alone = false;
  // Its bytes and then its new name in its folder flushed to the disk by Commit, so that a
  // machine that stops at any moment after leaves the old file or the new one, whole.
  bool durable = false;
  // Only a regular file that may be written, or none yet: a stream, a device and a read-only
  // file are refused (a settings file is never written through to one).
  bool file_only = false;
};

class OutputFile {
 public:
  OutputFile();
  ~OutputFile();  // a file not put in place is discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `target` as described above; false with "cannot write TARGET: ..." in *error.
  bool Open(const std::string& target, std::string* error, const OutputOptions& options = {});
  // Creates `path` itself, which must not exist yet (a name that exists, or is a link, is
  // *taken: the caller tries another); written in place, nothing to commit.
  bool OpenNew(const std::string& path, bool* taken, std::string* error);

  std::FILE* stream() const { return stream_; }
  const std::string& target() const { return target_; }
  // The name being written until the file is put in place; empty when it is written directly
  // (a stream, or a new name made by OpenNew).
  const std::string& temporary() const { return temporary_; }
  // The names this file made that go when it is put in place or discarded: its temporary name
  // and the lock it made, as far as there are.
  std::vector<std::string> passing_names() const;
  // Whether the stream can go back to rewrite what it wrote; a stream opened for appending
  // cannot (every write lands at the end).
  bool seekable() const { return seekable_; }
  // Where the file starts in a seekable stream: 0 for a file of its own, the offset where it
  // was opened for a stream handed over already written to (`{ printf X; vorla ...; } >f`).
  uint64_t origin() const { return origin_; }
  void set_replace(Replace replace) { replace_ = replace; }

  // Flushes and closes the stream; false with the reason when anything written was lost.
  bool Close(std::string* error);
  // Close, then the temporary file put in place of the target.
  bool Commit(std::string* error);
  // False with the reason when a file has appeared where this one, none when it was opened,
  // is to go (and replacing is not allowed).
  bool PlaceStillFree(std::string* error) const;
  // Closes and removes the temporary file; the target stays as it was.
  void Discard();
  // Close, then the complete file handed over as it is: *temporary and *place say where it is
  // and where it goes, and from here on whoever took it puts it in place or removes it (see
  // AwaitCommit). Only for a file written under a temporary name.
  bool HandOver(std::string* temporary, std::string* place, std::string* error);

 private:
  // Put in place only where no file is.
  bool ReplacesNothing() const;

  std::FILE* stream_ = nullptr;
  std::string target_;     // the name asked for, for messages
  std::string place_;      // where the file goes (the target, or where its link leads)
  std::string temporary_;  // the name being written; empty when written directly
  bool seekable_ = false;
  uint64_t origin_ = 0;
  bool existed_ = false;      // the place was a file when opened
  bool durable_ = false;
  Replace replace_ = Replace::kExisting;
  bool failed_ = false;
  struct Lock;
  std::unique_ptr<Lock> lock_;
  std::string why_;
};

// The files of one run: committed together at its end, or none of them.
class OutputSet {
 public:
  explicit OutputSet(Replace replace = Replace::kExisting) : replace_(replace) {}
  ~OutputSet();  // discards every file not committed
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // A file of the set (see OutputFile::Open); null with the reason.
  OutputFile* Open(const std::string& target, std::string* error);
  // Drops one file of the set: its target stays as it was.
  void Discard(OutputFile* file);
  // Closes every file; when all are complete and no file has appeared where one that was
  // none is to go, puts every one in place. False with the first reason, and then the targets
  // stay as they were.
  bool Commit(std::string* error);
  void Discard();

 private:
  std::vector<std::unique_ptr<OutputFile>> files_;
  Replace replace_;
};

// The identity of files, by device and file number: outputs against what the run reads.

// True when the two paths name the same file: the same existing regular file however spelt, or
// the same path when one does not exist yet. Devices such as /dev/null are never "the same";
// "-" (standard output) is the same only as "-".
bool SameFile(const std::string& a, const std::string& b);

// A file the run reads or has loaded, and what to call it in a message ("the input", "the
// module file").
struct RunFile {
  std::string path;
  std::string role;
};

// Why the outputs cannot be written: an output that is a file the run reads, or two outputs
// that are one file (the first of OutputClashes); "" when they can. Empty names are no outputs.
std::string OutputClash(const std::vector<RunFile>& reads,
                        const std::vector<std::string>& outputs);

// The same for a run of many outputs, each checked against every file read and every output
// before it, by file identity (links followed) or, for a name that is no file yet, by where it
// leads; linear in the number of files. For each output, why it cannot be written, or "".
std::vector<std::string> OutputClashes(const std::vector<RunFile>& reads,
                                       const std::vector<std::string>& outputs);

// Who is told of the temporary names the door makes and lets go (held true, then false): the
// run's signal handling, where one is. False from it refuses the file ("too many files written
// at once"). Without a watch, nobody is told.
using TemporaryNameWatch = bool (*)(const std::string& path, bool held);
void WatchTemporaryNames(TemporaryNameWatch watch);
