#include "text/Console.h"

#include <windows.h>

#include <string>

#include "text/Pieces.h"

namespace tarvox::text {
namespace {

// Units handed to the console in one call: far below what the consoles of
// older Windows refuse (their buffer lives in a shared heap of 64 KB).
constexpr std::size_t kConsolePiece = 4096;
// Bytes handed to a file or pipe in one call.
constexpr std::size_t kFilePiece = 65536;

}  // namespace

std::uint32_t WriteTo(Stream stream, std::string_view utf8) {
  const HANDLE out =
      GetStdHandle(stream == Stream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || utf8.empty()) return 0;
  DWORD error = ERROR_SUCCESS;
  // A write that reports success but takes nothing would loop for ever.
  const auto failed = [&] {
    error = GetLastError();
    if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
  };
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), units);
    const bool all = WriteInPieces(
        std::wstring_view(wide), kConsolePiece,
        [&](std::wstring_view piece, std::size_t* written) {
          SetLastError(ERROR_SUCCESS);
          DWORD count = 0;
          const BOOL ok = WriteConsoleW(out, piece.data(), static_cast<DWORD>(piece.size()),
                                        &count, nullptr);
          *written = count;
          return ok != FALSE;
        });
    if (!all) failed();
    return error;
  }
  const bool all = WriteInPieces(
      utf8, kFilePiece, [&](std::string_view piece, std::size_t* written) {
        SetLastError(ERROR_SUCCESS);
        DWORD count = 0;
        const BOOL ok =
            WriteFile(out, piece.data(), static_cast<DWORD>(piece.size()), &count, nullptr);
        *written = count;
        return ok != FALSE;
      });
  if (!all) failed();
  return error;
}


}  // namespace tarvox::text
