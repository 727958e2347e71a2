#include "log/RunLog.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "platform/RegKey.h"
#include "platform/RunState.h"

namespace tarvox {

LogStream RunLog;
std::u16string g_logDirectory;

namespace {

constexpr std::u16string_view kProductAppPathsKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\orvane.exe";

// Windows paths hold at most 259 units (260 with the NUL) for a program that
// does not declare itself long-path aware. The folder must leave room for
// "\TarvoxTmp.log" within that: 245 units at most.
constexpr std::size_t kMaxPathUnits = 259;
constexpr std::size_t kMaxFolderUnits = kMaxPathUnits - 1 - kTempLogName.size();

// The product folder registered for "orvane.exe", when one is registered and
// usable. A "Path" too long to hold the log files (260 units or more cannot
// even be kept whole), or an empty one (which would put the log in the root
// of whatever drive is current), is set aside, and the log goes to the
// Windows folder as when nothing is registered. A "Path" that ends in a
// backslash is kept as it is: Windows reads the doubled separator as one.
std::optional<std::u16string> RegisteredProductFolder(Platform& os) {
  RegKey key(os);
  // The key is opened for writing too, although nothing is written to it:
  // without administrator rights the open fails and the Windows folder is
  // used, as for every other part of the run.
  if (key.Open(kProductAppPathsKey, win::kKeyQueryValue | win::kKeySetValue) !=
      win::kSuccess) {
    return std::nullopt;
  }
  char16_t path[1024] = {};
  std::uint32_t size = sizeof path;
  if (key.QueryValue(u"Path", nullptr, path, &size) != win::kSuccess) {
    return std::nullopt;
  }
  // Data without a NUL fills the buffer; the text ends at its last unit then.
  std::u16string_view text(path, std::min<std::size_t>(size / 2, std::size(path)));
  text = text.substr(0, text.find(u'\0'));
  if (text.empty() || text.size() > kMaxFolderUnits) return std::nullopt;
  return std::u16string(text);
}

}  // namespace

Status LogStream::Open(Platform& os, std::u16string_view path) {
  Close();
  created_ = false;
  wrote_lines_ = false;
  lost_lines_ = false;
  FileHandle file = kNoFile;
  bool created = false;
  const Status status = os.OpenAppendFile(path, &file, &created);
  if (status == win::kSuccess) {
    os_ = &os;
    file_ = file;
    created_ = created;
  }
  return status;
}

void LogStream::Close() {
  if (file_ != kNoFile) os_->CloseFile(file_);
  file_ = kNoFile;
  line_.clear();
}

LogStream& LogStream::operator<<(std::u16string_view piece) {
  if (is_open()) line_ += piece;
  return *this;
}

LogStream& LogStream::operator<<(Message message) {
  if (is_open()) line_ += os_->LoadMessage(static_cast<std::uint32_t>(message));
  return *this;
}

LogStream& LogStream::operator<<(long long number) {
  if (is_open()) {
    const std::string digits = std::to_string(number);
    line_.append(digits.begin(), digits.end());
  }
  return *this;
}

LogStream& LogStream::operator<<(EndLine) {
  if (!is_open()) return *this;
  // The file is text: every line break, also one inside a piece, is CR LF.
  const std::string text = os_->ToAnsi(line_);
  std::string bytes;
  bytes.reserve(text.size() + 2);
  for (const char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  bytes += "\r\n";
  if (os_->AppendToFile(file_, bytes) != win::kSuccess) {
    lost_lines_ = true;
  } else if (listener_ != nullptr) {
    listener_->Logged(line_, bytes);
  }
  line_.clear();
  wrote_lines_ = true;
  return *this;
}

namespace {

// A log file name that is a symbolic link, junction or other reparse point
// may have been planted to point elsewhere; Tarvox runs as administrator and
// must not write, rename or remove anything through it.
bool IsLink(Platform& os, std::u16string_view path) {
  std::uint32_t attributes = 0;
  return os.GetAttributes(path, &attributes) == win::kSuccess &&
         (attributes & win::kFileAttributeReparsePoint) != 0;
}

}  // namespace

std::u16string RunLogFolder(Platform& os) {
  return RegisteredProductFolder(os).value_or(g_systemRoot);
}

int OpenRunLog(Platform& os) {
  g_logDirectory = RunLogFolder(os);
  std::u16string temp_path = g_logDirectory;
  temp_path += u'\\';
  temp_path += kTempLogName;
  // A link in place of either log means no log for this run; the checks
  // still run. (Creating the temporary log refuses links too, and a file
  // with other names, at the moment it is opened.)
  if (IsLink(os, g_logDirectory + u"\\" + std::u16string(kFinalLogName)) ||
      RunLog.Open(os, temp_path) != win::kSuccess) {
    // Written to a stream that is not open, so it is lost, as every line of
    // a run without a log.
    RunLog << Message::kRedirectFailed << kEndLine;
    return 0;
  }
  return 1;
}

void FinishRunLog(Platform& os) {
  RunLog.Close();
  const std::u16string folder = g_logDirectory + u"\\";
  const std::u16string temp_path = folder + std::u16string(kTempLogName);
  std::uint64_t length = 0;
  // A temporary log that cannot be opened (another process holds it) is left
  // as it is, and so is the final log: nothing is known about what it holds.
  if (os.FileLength(temp_path, &length) != win::kSuccess) return;
  if (!RunLog.wrote_lines() || length == 0) {
    // Nothing of this run to keep. A temporary log an earlier run left holds
    // the only record of what that run did (a restored driver, a run ended
    // early): it stays exactly as it is, and so does the final log.
    if (RunLog.created() && length == 0) os.RemoveFile(temp_path);
    return;
  }
  const std::u16string final_path = folder + std::u16string(kFinalLogName);
  // The new log, after the lines an earlier run may have left, takes the
  // old one's place in one step, or nothing changes: the older log is never
  // removed unless the new one replaces it. (A log viewer holding the
  // temporary log open makes the move fail; deleting the older log first
  // would then lose it.) A read-only older log is kept, and the new lines
  // stay under the temporary name beside it; so is an older log that became
  // a link meanwhile.
  std::uint32_t attributes = 0;
  if (os.GetAttributes(final_path, &attributes) == win::kSuccess &&
      (attributes & (win::kFileAttributeReadOnly |
                     win::kFileAttributeReparsePoint)) != 0) {
    return;
  }
  os.RenameReplacing(temp_path, final_path);
}

}  // namespace tarvox
