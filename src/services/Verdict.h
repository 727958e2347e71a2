// The answers of the questions the checks ask about a filter name (does its
// service exist, may Windows start it, is its driver file there) and about the
// product's co-installer DLL.
#pragma once

namespace tarvox {

// 1 yes; 0 no, on evidence: the registry or the file system reported the
// service, start type or file absent or unusable. A third answer says the
// question could not be answered at all (a key or file that could not be
// looked at, a Windows folder that is unknown). Only a 0 ever removes
// anything: a failure to look is never taken for proof of absence.
inline constexpr int kCannotTell = -1;

}  // namespace tarvox
