// Whole runs of the tool on an in-memory machine whose registry holds
// whatever bytes, of whatever type, in the values the tool reads. A run must
// end normally, keep every buffer in bounds, and leave a log of whole lines.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/RepairApp.h"
#include "log/RunLog.h"
#include "platform/MemoryPlatform.h"
#include "platform/RunState.h"

namespace {

constexpr std::u16string_view kAppPaths =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\orvane.exe";
constexpr std::u16string_view kCoInstallers =
    u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
constexpr std::u16string_view kCdromClass =
    u"{4D36E965-E325-11CE-BFC1-08002BE10318}";

// Takes a value from the input: a type byte, a length byte pair, the data.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  std::string Bytes(std::size_t wanted) {
    wanted = std::min(wanted, size);
    std::string bytes(reinterpret_cast<const char*>(data), wanted);
    data += wanted;
    size -= wanted;
    return bytes;
  }
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  Reader input{data, size};
  tarvox::MemoryPlatform machine;
  machine.AddFolder(u"C:\\Program Files\\Orvane");
  machine.AddFile(u"C:\\windows\\system32\\OrvaneCo.dll", "MZ");
  const std::uint8_t flags = input.Byte();
  for (const auto& [key, value] :
       {std::pair{kAppPaths, std::u16string_view(u"Path")},
        std::pair{kCoInstallers, kCdromClass}}) {
    const std::uint32_t type = input.Byte() % 12;
    const std::size_t low = input.Byte();
    const std::size_t length = low | (std::size_t{input.Byte()} << 4);
    machine.PutValue(key, value, type, input.Bytes(length));
  }
  if (flags & 1) machine.SetCommandLine(u"Tarvox.exe -silent");

  tarvox::RunLog.Close();
  tarvox::g_changesMade = 0;
  int exit_code = 0;
  try {
    exit_code = tarvox::RepairApp(machine).Run();
  } catch (const tarvox::MemoryPlatform::ProcessEnded& end) {
    exit_code = end.code;
  }
  Check(exit_code == 0);
  for (const auto& path : machine.AllFiles()) {
    if (path.ends_with(u"Tarvox.log") || path.ends_with(u"TarvoxTmp.log")) {
      const std::string log = *machine.FileBytes(path);
      Check(log.empty() || log.ends_with("\r\n"));
    }
  }
  tarvox::RunLog.Close();
  return 0;
}
