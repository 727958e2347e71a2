// A Wine prefix of the test's own with Tarvox.exe run in it for real.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "wine/TarvoxRunner.h"
#include "wine/WinTestSupport.h"

namespace tarvox::wintest {

inline const std::wstring kAppPathsKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\orvane.exe";
inline const std::wstring kProductFolder = L"C:\\Program Files\\Orvane";
inline const std::wstring kCoInstallersKey =
    L"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
inline const std::wstring kCdromClassGuid =
    L"{4D36E965-E325-11CE-BFC1-08002BE10318}";

class EndToEnd : public ::testing::Test {
 protected:
  const std::wstring windows_ = WindowsFolder();
  const std::wstring system32_ = windows_ + L"\\system32";

  // Every key the checks read exists and holds nothing to repair, so a run
  // changes nothing and logs nothing.
  void SeedQuietMachine() { PutKey(kCoInstallersKey); }

  void RegisterProductFolder() {
    MakeFolders(kProductFolder);
    PutString(kAppPathsKey, L"Path", kProductFolder);
  }

  static std::wstring In(const std::wstring& folder, const std::wstring& name) {
    return folder + L"\\" + name;
  }
};

}  // namespace tarvox::wintest
