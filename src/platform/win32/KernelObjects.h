// Whether two handles are one kernel object. A named object can be reached
// under several names (in session 0 the plain, "Local\" and "Global\" names
// of a mutex are one object; a symbolic link in the object namespace makes
// another), so only the object itself tells whether a mutex found under a
// name is the one this process already holds.
#pragma once

#include <windows.h>

namespace tarvox::win32 {

// What a comparison found.
inline constexpr int kSameObject = 1;
inline constexpr int kOtherObject = 0;
inline constexpr int kCannotCompare = -1;

// CompareObjectHandles, which Windows has from 10 on (kernelbase.dll); it is
// looked up at run time. kCannotCompare where Windows lacks it.
int SameObjectByComparison(HANDLE first, HANDLE second);

// For older Windows: the full names the object manager gives the two
// objects (NtQueryObject, ObjectNameInformation), such as
// "\BaseNamedObjects\X" or "\Sessions\1\BaseNamedObjects\X". A name names
// one object at a time, and a handle held keeps its object, and so its
// name, alive: two handles to named objects of one full name are one
// object, and of two names are two. kCannotCompare when either name cannot
// be had, or either object has none.
int SameObjectByName(HANDLE first, HANDLE second);

// The first of the two that can answer.
int SameKernelObject(HANDLE first, HANDLE second);

}  // namespace tarvox::win32
