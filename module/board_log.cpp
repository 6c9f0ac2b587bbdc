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

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// "FOLDER/vorla-20261208-013015.s98", or with "-2", "-3"... when that name is taken.
std::string TimeStampedName(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  const std::time_t now = std::time(nullptr);
  char stamp[32] = "vorla";
  if (const std::tm* t = std::localtime(&now); t != nullptr) {
    std::strftime(stamp, sizeof stamp, "vorla-%Y%m%d-%H%M%S", t);
  }
  std::string path = folder + stamp + ".s98";
  for (int n = 2; Exists(path) && n < 1000; ++n) {
    path = folder + stamp + "-" + std::to_string(n) + ".s98";
  }
  return path;
}

}  // namespace

std::unique_ptr<BoardLog> BoardLog::Open(const std::string& target, uint32_t rate,
                                         std::string* error) {
  if (target.empty()) {
    *error = "no register log named";
    return nullptr;
  }
  std::error_code ec;
  const bool folder = target.back() == '/' || target.back() == '\\' ||
                      std::filesystem::is_directory(target, ec);
  const std::string path = folder ? TimeStampedName(target) : target;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot create the register log " + path + ": " + std::strerror(errno) +
             "; the board plays on without it";
    return nullptr;
  }
  std::unique_ptr<BoardLog> log(new BoardLog(file, path, !folder && EndsWith(path, ".vgm"),
                                             rate != 0 ? rate : kFirstRate));
  // The header goes out at once: from here on the file is a log, if an empty one.
  if (!log->Flush()) {
    *error = "cannot write the register log " + path + ": " + log->failure_ +
             "; the board plays on without it";
    return nullptr;
  }
  return log;
}

BoardLog::BoardLog(std::FILE* file, std::string path, bool vgm, uint32_t rate)
    : file_(file), path_(std::move(path)), rate_(rate) {
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
  if (file_ != nullptr) Close();
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
  if (whole_ - flushed_at_ >= tick_rate_) Flush();
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
  if (std::fseek(file_, 0, SEEK_END) != 0) {
    Fail("seek");
  } else if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    Fail("write");
  } else if (std::fseek(file_, 0, SEEK_SET) != 0 ||
             std::fwrite(header.data(), 1, header.size(), file_) != header.size()) {
    Fail("write");
  } else if (std::fflush(file_) != 0) {
    Fail("write");
  }
  return failure_.empty();
}

std::string BoardLog::Close() {
  if (file_ == nullptr) return std::string();
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
  if (std::fclose(file_) != 0) Fail("close");
  file_ = nullptr;
  if (!failure_.empty()) {
    return "the register log " + path_ + " could not be written (" + failure_ +
           "); it ends at its last flush";
  }
  if (dropped_ != 0) {
    return "the register log " + path_ + ": " + std::to_string(dropped_) +
           " writes to PSG 3 and 4 not logged (a VGM file holds two PSGs)";
  }
  return std::string();
}
