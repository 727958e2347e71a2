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
inline const std::wstring kClassKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + kCdromClassGuid;
inline const std::wstring kCriticalDeviceKey =
    L"SYSTEM\\CurrentControlSet\\Control\\CriticalDeviceDatabase\\gencdrom";
inline const std::wstring kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";

class EndToEnd : public ::testing::Test {
 protected:
  const std::wstring windows_ = WindowsFolder();
  const std::wstring system32_ = windows_ + L"\\system32";
  const std::wstring drivers_ = system32_ + L"\\drivers";

  // Every key the checks read exists and holds nothing to repair, so a run
  // changes nothing and logs nothing.
  void SeedQuietMachine() {
    PutKey(kCoInstallersKey);
    PutKey(kClassKey);
    PutKey(kCriticalDeviceKey);
  }

  // A filter driver's service with its start type; its driver file, in the
  // Windows driver folder, when `driver` is set.
  void Service(const std::wstring& name, DWORD start, bool driver = true) {
    PutValue(kServicesKey + name, L"Start", REG_DWORD,
             std::string(reinterpret_cast<const char*>(&start), 4));
    if (driver) WriteFileBytes(In(drivers_, name + L".sys"), "MZ");
  }

  void RegisterProductFolder() {
    MakeFolders(kProductFolder);
    PutString(kAppPathsKey, L"Path", kProductFolder);
  }

  // A REG_MULTI_SZ value holding `entries`.
  static RegValue Multi(const std::vector<std::wstring>& entries) {
    return {REG_MULTI_SZ, MultiSzBytes(entries)};
  }

  static std::wstring In(const std::wstring& folder, const std::wstring& name) {
    return folder + L"\\" + name;
  }
};

}  // namespace tarvox::wintest
