// The run log: every part of the tool writes its lines here, as pieces
// (catalogue texts, paths, numbers) ended by kEndLine. While the checks run
// the lines go to "TarvoxTmp.log", after whatever an earlier run left there;
// at the end of a normal run that logged anything the file is moved to
// "Tarvox.log", and one this run created and left empty is removed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "resources/Catalogue.h"

namespace tarvox {

// Messages of the catalogue, by their string-table ids.
enum class Message : std::uint32_t {
  kNotSupportedPlatform = IDS_NOT_SUPPORTED_PLATFORM,
  kRebootNotice = IDS_REBOOT_NOTICE,
  kNotEnoughRights = IDS_NOT_ENOUGH_RIGHTS,
  kCouldNotOpenKey = IDS_COULD_NOT_OPEN_KEY,
  kRedirectFailed = IDS_REDIRECT_FAILED,
  kNotConverted = IDS_NOT_CONVERTED,
  kNoImagePathDriverMissing = IDS_NO_IMAGE_PATH_DRIVER_MISSING,
  kDriverFileMissing = IDS_DRIVER_FILE_MISSING,
  kConvertedFromBak = IDS_CONVERTED_FROM_BAK,
  kBackupDriverMissing = IDS_BACKUP_DRIVER_MISSING,
};

struct EndLine {};
inline constexpr EndLine kEndLine{};

inline constexpr std::u16string_view kTempLogName = u"TarvoxTmp.log";
inline constexpr std::u16string_view kFinalLogName = u"Tarvox.log";

// Told each line a log file took: its text, and the bytes written for it
// (in the ANSI code page, every line break CR LF).
class LineListener {
 public:
  virtual ~LineListener() = default;
  virtual void Logged(std::u16string_view line, std::string_view bytes) = 0;
};

// A line-oriented text stream onto one file. Pieces are joined with nothing
// between them; each end of line writes CR LF and hands the whole line to the
// file at once, so a run that ends abruptly keeps every finished line. Text
// is stored in the ANSI code page; a character the code page lacks becomes
// '?' and the rest of the line and the log are kept. While no file is open,
// lines are dropped.
class LogStream {
 public:
  LogStream() = default;
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;
  ~LogStream() = default;  // the process's end closes a file still open

  // Opens the file, creating it when it is not there, and writes to it from
  // now on, after what it holds. Returns the platform's status; on failure
  // the stream stays closed.
  Status Open(Platform& os, std::u16string_view path);
  void Close();
  bool is_open() const { return file_ != kNoFile; }
  // Whether the file was created by the last Open, and whether a line was
  // ended since: both stay known after Close, until the next Open.
  bool created() const { return created_; }
  bool wrote_lines() const { return wrote_lines_; }
  // Whether the file refused a line since the last Open.
  bool lost_lines() const { return lost_lines_; }

  LogStream& operator<<(std::u16string_view piece);
  LogStream& operator<<(Message message);
  LogStream& operator<<(long long number);
  LogStream& operator<<(EndLine);

  // Who is told each line the file takes from now on; none: nobody.
  void Listen(LineListener* listener) { listener_ = listener; }

 private:
  Platform* os_ = nullptr;
  LineListener* listener_ = nullptr;
  FileHandle file_ = kNoFile;
  std::u16string line_;
  bool created_ = false;
  bool wrote_lines_ = false;
  bool lost_lines_ = false;
};

// The stream every part writes to.
extern LogStream RunLog;

// The folder of the two log files, as OpenRunLog chose it.
extern std::u16string g_logDirectory;

// The log folder: the product folder registered under the App Paths entry
// of "orvane.exe", else the Windows folder (g_systemRoot).
std::u16string RunLogFolder(Platform& os);

// Chooses the log folder (RunLogFolder) and starts the temporary log there. 1 when the log is open, 0 when it could not be created; the run
// goes on without a log then.
int OpenRunLog(Platform& os);

// Closes the log and moves the temporary log into place when this run wrote
// a line, or removes it when this run created it and wrote nothing. A
// temporary log an earlier run left keeps its lines: this run's follow
// them, and a run that logs nothing leaves it as it is. Never fails the run:
// a step that fails leaves the files as they are and nothing more is tried.
void FinishRunLog(Platform& os);

}  // namespace tarvox
