// How the guard tells its own mutex under a second name from another
// process's: both of its tests, on real objects. The second is what Windows
// before 10, which lacks CompareObjectHandles, relies on.
#include <gtest/gtest.h>

#include "platform/win32/KernelObjects.h"
#include "wine/WinTestSupport.h"

namespace tarvox::wintest {
namespace {

TEST(KernelObjects, EachTestTellsOneMutexUnderTwoNamesFromTwoMutexes) {
  // As in session 0: the plain name reaches the global object.
  const OwnedHandle link = LinkSessionNameToGlobal(L"TarvoxIdentityLinked");
  ASSERT_TRUE(link.valid());
  const OwnedHandle global(CreateMutexW(nullptr, TRUE, L"Global\\TarvoxIdentityLinked"));
  const OwnedHandle plain(CreateMutexW(nullptr, TRUE, L"TarvoxIdentityLinked"));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // As in a user's session: two objects.
  const OwnedHandle apart_global(CreateMutexW(nullptr, TRUE, L"Global\\TarvoxIdentityApart"));
  const OwnedHandle apart_plain(CreateMutexW(nullptr, TRUE, L"TarvoxIdentityApart"));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  const OwnedHandle unnamed(CreateMutexW(nullptr, TRUE, nullptr));

  for (const auto same : {win32::SameObjectByComparison, win32::SameObjectByName}) {
    EXPECT_EQ(same(global.get(), plain.get()), win32::kSameObject);
    EXPECT_EQ(same(apart_global.get(), apart_plain.get()), win32::kOtherObject);
    EXPECT_EQ(same(global.get(), apart_global.get()), win32::kOtherObject);
  }
  // An object without a name cannot be told by it.
  EXPECT_EQ(win32::SameObjectByName(unnamed.get(), global.get()), win32::kCannotCompare);
  EXPECT_EQ(win32::SameKernelObject(plain.get(), global.get()), win32::kSameObject);
}

}  // namespace
}  // namespace tarvox::wintest
