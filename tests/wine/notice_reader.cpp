// notice_reader.exe CAPTION
// Finds the message box with this caption on the desktop of the Wine prefix
// it runs in and prints its caption and text as UTF-8, one per line (the
// text may hold line breaks of its own). Exits 1 when there is none.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void PrintUtf8(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                        static_cast<int>(text.size()), nullptr,
                                        0, nullptr, nullptr);
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      converted.data(), bytes, nullptr, nullptr);
  std::fwrite(converted.data(), 1, converted.size(), stdout);
  std::fputc('\n', stdout);
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: notice_reader.exe CAPTION\n", stderr);
    return 2;
  }
  const HWND box = FindWindowW(L"#32770", argv[1]);
  if (box == nullptr) return 1;
  PrintUtf8(TextOf(box));
  // A message box's text is its static control with id 0xFFFF.
  const HWND text = GetDlgItem(box, 0xFFFF);
  PrintUtf8(text != nullptr ? TextOf(text) : L"");
  return 0;
}
