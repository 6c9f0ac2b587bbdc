#include "module/board_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/ascii.h"
#include "reglog/s98_writer.h"
#include "reglog/vgm_writer.h"

namespace {

constexpr uint32_t kFirstRate = 44100;   // what the timer says until the first frame
constexpr uint8_t kPsgRegisters = 16;    // the PSG ignores a latch of 16 and more
constexpr uint32_t kFmRegisters = 256;   // the FM chip ignores an address of 256 and more

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (AsciiLower(text[text.size() - n + i]) != suffix[i]) return false;
  }
  return true;
}

constexpr size_t kFlushBytes = 256 * 1024;  // pending bytes that are written out at once

// "FOLDER/vorla-20261208-013015" (the caller adds ".s98", or "-2.s98", "-3.s98"...).
std::string TimeStamp(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "vorla";
  if (const std::tm* t = std::localtime(&now); t != nullptr) {
    std::strftime(stamp, sizeof stamp, "vorla-%Y%m%d-%H%M%S", t);
  }
  return folder + stamp;
}

}  // namespace

std::unique_ptr<BoardLog> BoardLog::Open(const std::string& target, uint32_t rate,
                                         TemporaryWatch watch, std::string* error) {
  if (target.empty()) {
    *error = "no register log named";
    return nullptr;
  }
  std::error_code ec;
  const bool folder = target.back() == '/' || target.back() == '\\' ||
                      std::filesystem::is_directory(target, ec);
  std::unique_ptr<BoardLog> log(new BoardLog(target, !folder && EndsWith(target, ".vgm"),
                                             rate != 0 ? rate : kFirstRate));
  log->watch_ = std::move(watch);
  if (!log->Create(target, folder, error)) return nullptr;
  // The header goes out at once: from here on the file is a log, if an empty one.
  if (!log->Flush()) {
    *error = "cannot write the register log " + log->path_ + ": " + log->failure_;
    // A new name made in a folder goes again when not even the header could be written.
    const std::string made = folder ? log->path_ : std::string();
    log.reset();
    if (!made.empty()) std::filesystem::remove(made, ec);
    return nullptr;
  }
  return log;
}

bool BoardLog::Create(const std::string& target, bool folder, std::string* error) {
  std::string why;
  bool made = false;
  if (folder) {
    // A new name of its own: never an existing file, never through a link.
    const std::string stamp = TimeStamp(target);
    bool taken = true;
    for (int n = 1; taken && n < 1000; ++n) {
      path_ = stamp + (n == 1 ? "" : "-" + std::to_string(n)) + ".s98";
      made = file_.OpenNew(path_, &taken, &why);
    }
  } else {
    made = file_.Open(target, &why, {.alone = true});
    if (made && !file_.seekable()) {
      file_.Discard();
      made = false;
      why = "cannot write " + target + ": the log's header is rewritten as it grows, which a "
            "pipe or terminal cannot take";
    }
  }
  if (!made) {
    // "cannot write PATH: reason" from the door, told as the log's.
    const size_t colon = why.rfind(": ");
    *error = "cannot create the register log " + path_ + ": " +
             (colon == std::string::npos ? why : why.substr(colon + 2));
    return false;
  }
  open_ = true;
  if (watch_.held) {
    for (const std::string& name : file_.passing_names()) watch_.held(name, true);
  }
  return true;
}

BoardLog::BoardLog(std::string path, bool vgm, uint32_t rate)
    : path_(std::move(path)), rate_(rate) {
  if (vgm) {
    writer_ = std::make_unique<VgmWriter>(VgmLayout{kBoardFmClock, kPsgMasterClock});
  } else {
    S98Layout layout;
    layout.timer_num = 1;
    layout.timer_den = rate;
    layout.opm_clock = kBoardFmClock;
    for (uint32_t& clock : layout.psg_clock) clock = kPsgMasterClock;
    auto s98 = std::make_unique<S98Writer>(layout);
    s98_ = s98.get();
    writer_ = std::move(s98);
  }
}

BoardLog::~BoardLog() {
  if (open_) Close();
}

void BoardLog::Start() {
  started_ = true;
  first_rate_ = rate_;
  tick_rate_ = s98_ != nullptr ? rate_ : VgmWriter::kSampleRate;
  if (s98_ != nullptr) {
    s98_->SetTimer(1, rate_);
    Flush();
  }
}

void BoardLog::Advance(int32_t frames) {
  if (frames <= 0) return;
  if (!started_) Start();
  part_ += static_cast<uint64_t>(frames) * tick_rate_;
  whole_ += part_ / rate_;
  part_ %= rate_;
  frames_ += static_cast<uint64_t>(frames);
  if (writer_->has_pending() && whole_ - flushed_at_ >= tick_rate_) Flush();
}

void BoardLog::SetRate(uint32_t rate) {
  if (rate == 0 || rate == rate_) return;
  if (started_) {
    // The fraction of a tick, from 1/old to 1/new of a tick, rounded to the nearest.
    part_ = (part_ * rate + rate_ / 2) / rate_;
    if (part_ >= rate) {
      ++whole_;
      part_ -= rate;
    }
    ++rate_changes_;
  }
  rate_ = rate;
}

void BoardLog::FmWrite(uint32_t latch, uint32_t value) {
  if (latch < kFmRegisters) {
    Record(kChipOpm, static_cast<uint8_t>(latch), static_cast<uint8_t>(value));
  }
}

void BoardLog::PsgWrite(int psg, uint32_t latch, uint32_t value) {
  if (latch < kPsgRegisters) {
    Record(static_cast<uint8_t>(kChipPsg1 + psg), static_cast<uint8_t>(latch),
           static_cast<uint8_t>(value));
  }
}

void BoardLog::BoardReset() {
  // A format without PSG 3 and 4 loses nothing of the program's by leaving out their reset.
  const uint64_t dropped = dropped_;
  for (int psg = 0; psg < kMusicPsgCount; ++psg) {
    const auto chip = static_cast<uint8_t>(kChipPsg1 + psg);
    for (uint8_t reg = 0; reg <= 13; ++reg) Record(chip, reg, 0);
    Record(chip, 7, 0xFF);
    Record(chip, 14, 0xFF);
    Record(chip, 15, 0xFF);
  }
  dropped_ = dropped;
  for (uint32_t address = 0; address < kFmRegisters; ++address) {
    if (address == 0x08) {
      for (uint8_t channel = 0; channel < 8; ++channel) Record(kChipOpm, 0x08, channel);
    } else {
      Record(kChipOpm, static_cast<uint8_t>(address), 0);
    }
  }
  Record(kChipOpm, 0x19, 0x80);
}

void BoardLog::Record(uint8_t chip, uint8_t reg, uint8_t data) {
  if (!failure_.empty()) return;
  if (!started_) Start();
  CatchUp();
  if (!writer_->Write(chip, reg, data)) ++dropped_;
  if (whole_ - flushed_at_ >= tick_rate_ || writer_->pending_size() >= kFlushBytes) Flush();
}

void BoardLog::CatchUp() {
  const uint64_t now = whole_ + (part_ != 0 ? 1 : 0);
  if (now > written_) {
    writer_->Wait(now - written_);
    written_ = now;
  }
}

void BoardLog::Fail(const char* what) {
  if (failure_.empty()) failure_ = std::string(what) + ": " + std::strerror(errno);
}

bool BoardLog::Flush() {
  if (!failure_.empty()) return false;
  std::vector<uint8_t> bytes;
  writer_->TakeStream(&bytes);
  const std::vector<uint8_t> header = writer_->Header();
  flushed_at_ = whole_;
  // The stream goes after what is there; then the header, which counts it, over the start.
  std::FILE* file = file_.stream();
  if (std::fseek(file, 0, SEEK_END) != 0) {
    Fail("seek");
  } else if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    Fail("write");
  } else if (std::fseek(file, 0, SEEK_SET) != 0 ||
             std::fwrite(header.data(), 1, header.size(), file) != header.size()) {
    Fail("write");
  } else if (std::fflush(file) != 0) {
    Fail("write");
  }
  return failure_.empty();
}

std::string BoardLog::Close() {
  if (!open_) return std::string();
  open_ = false;
  if (failure_.empty()) {
    if (!started_) Start();
    CatchUp();
    LogTag tag;
    tag.title = "Vorla register log";
    tag.system = "Vorla sound board";
    tag.dumper = "Vorla";
    tag.notes = std::to_string(frames_) + " frames from " + std::to_string(first_rate_) + " Hz";
    if (rate_changes_ != 0) tag.notes += ", " + std::to_string(rate_changes_) + " rate changes";
    tag.notes += "; FM and PSG register writes. The tone generator (TAV ch1-3) and the control "
                 "block have no place in this format and are not logged.";
    if (counting_timers_) {
      tag.notes += " The FM timers counted: timer A's key-ons in CSM mode are no register "
                   "writes, so a replay may differ where the song uses CSM.";
    }
    if (dropped_ != 0) {
      tag.notes += " " + std::to_string(dropped_) + " writes to PSG 3 and 4 not logged (the "
                   "format holds two PSGs).";
    }
    writer_->Finish(tag);
    Flush();
  }
  const std::string temporary = file_.temporary();
  const std::vector<std::string> passing = file_.passing_names();
  std::string why;
  std::string handed;  // the temporary name, when the log went to the host to put in place
  std::string place;
  const bool hand_over = watch_.complete && !temporary.empty();
  if (failure_.empty() && !(hand_over ? file_.HandOver(&handed, &place, &why) : file_.Commit(&why))) {
    const size_t colon = why.rfind(": ");
    failure_ = colon == std::string::npos ? why : why.substr(colon + 2);
  }
  if (!handed.empty()) watch_.complete(handed, place);
  file_.Discard();
  if (watch_.held) {
    for (const std::string& name : passing) watch_.held(name, false);
  }
  if (!failure_.empty()) {
    return "cannot write the register log " + path_ + ": " + failure_ +
           (temporary.empty() ? "; it ends at its last flush" : "; it was not made");
  }
  if (dropped_ != 0) {
    return "the register log " + path_ + ": " + std::to_string(dropped_) +
           " writes to PSG 3 and 4 not logged (a VGM file holds two PSGs)";
  }
  return std::string();
}
