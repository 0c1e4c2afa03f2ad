#include "window/InstanceGuard.h"

#include <gtest/gtest.h>

#include "window/ShellTexts.h"
#include "sim/SimRuntime.h"

namespace lu14 {
namespace {

using sim::SimRuntime;
using sim::SimSemaphoreNamespace;

const std::u16string kPath = u"C:\\Program Files\\LU14\\lu14-updater.exe";
const std::u16string kName = u"C:/Program Files/LU14/lu14-updater.exe";

SimRuntime::Setup CopyAt(SimSemaphoreNamespace& semaphores, std::u16string path = kPath) {
  SimRuntime::Setup setup;
  setup.programPath = std::move(path);
  setup.semaphores = &semaphores;
  return setup;
}

TEST(InstanceName, ForwardSlashesAndAPathCutToTheBuffer) {
  EXPECT_EQ(MakeInstanceName(kPath), kName);
  const std::u16string longPath = u"C:\\" + std::u16string(300, u'x') + u"\\a.exe";
  const std::u16string name = MakeInstanceName(longPath);
  EXPECT_EQ(name.size(), kInstanceNameCapacity - 1);
  EXPECT_EQ(name, u"C:/" + std::u16string(252, u'x'));
  // A surrogate pair that does not fit whole is left out whole.
  std::u16string pairAtTheEdge = u"C:\\" + std::u16string(251, u'y') + u"\U0001F50B.exe";
  EXPECT_EQ(MakeInstanceName(pairAtTheEdge), u"C:/" + std::u16string(251, u'y'));
}

TEST(InstanceGuard, FirstCopyTakesTheUnitAndGivesItBackAtExit) {
  SimSemaphoreNamespace semaphores;
  SimRuntime copy(CopyAt(semaphores));
  InstanceGuard guard(copy);
  ASSERT_TRUE(guard.StartInstanceGuard());
  EXPECT_EQ(guard.InstanceReleaseCount(), 1);
  EXPECT_EQ(guard.InstanceName(), kName);
  EXPECT_EQ(semaphores.Count(kName), 0);
  EXPECT_TRUE(copy.Boxes().empty());
  guard.EndInstanceGuard();
  EXPECT_EQ(semaphores.Count(kName), std::nullopt);  // last handle closed
}

TEST(InstanceGuard, SecondCopyOfTheSameFileIsTurnedAwayWithItsBox) {
  SimSemaphoreNamespace semaphores;
  SimRuntime first(CopyAt(semaphores));
  SimRuntime second(CopyAt(semaphores));
  InstanceGuard firstGuard(first);
  ASSERT_TRUE(firstGuard.StartInstanceGuard());
  {
    InstanceGuard secondGuard(second);
    EXPECT_FALSE(secondGuard.StartInstanceGuard());
    EXPECT_EQ(secondGuard.InstanceReleaseCount(), 0);
    ASSERT_EQ(second.Boxes().size(), 1u);
    EXPECT_EQ(second.Boxes()[0].box,
              (MessageBoxRequest{std::string(kAlreadyRunningText), "C:/Program Files/LU14/lu14-updater.exe", true,
                                 false}));
  }  // the rejected copy's exit step gives nothing back
  EXPECT_EQ(semaphores.Count(kName), 0);
  EXPECT_EQ(semaphores.Handles(kName), 1);
}

TEST(InstanceGuard, CopiesInOtherFoldersRunSideBySide) {
  SimSemaphoreNamespace semaphores;
  SimRuntime first(CopyAt(semaphores, u"C:\\A\\lu14-updater.exe"));
  SimRuntime second(CopyAt(semaphores, u"C:\\B\\lu14-updater.exe"));
  SimRuntime otherCase(CopyAt(semaphores, u"C:\\a\\lu14-updater.exe"));  // names match letter case exactly
  InstanceGuard a(first), b(second), c(otherCase);
  EXPECT_TRUE(a.StartInstanceGuard());
  EXPECT_TRUE(b.StartInstanceGuard());
  EXPECT_TRUE(c.StartInstanceGuard());
}

TEST(InstanceGuard, NextStartAcceptedAfterTheFirstEndsEvenWhileARejectedBoxIsOpen) {
  SimSemaphoreNamespace semaphores;
  SimRuntime first(CopyAt(semaphores)), rejected(CopyAt(semaphores)), later(CopyAt(semaphores));
  auto firstGuard = std::make_unique<InstanceGuard>(first);
  ASSERT_TRUE(firstGuard->StartInstanceGuard());
  InstanceGuard rejectedGuard(rejected);  // keeps its handle: its box is "still open"
  ASSERT_TRUE(rejectedGuard.IsAlreadyRunning());
  firstGuard.reset();  // normal exit: unit given back, then the handle closed
  InstanceGuard laterGuard(later);
  EXPECT_TRUE(laterGuard.StartInstanceGuard());
}

TEST(InstanceGuard, KilledFirstCopyLeavesNoLockUnlessARejectedCopyKeepsTheSemaphore) {
  SimSemaphoreNamespace semaphores;
  {
    SimRuntime first(CopyAt(semaphores));
    auto killed = first.CreateNamedSemaphore(kName, 1, 1);
    ASSERT_TRUE(killed->Wait(kInstanceWait));
  }  // killed: the system closes the handle, the unit is never given back
  SimRuntime next(CopyAt(semaphores));
  InstanceGuard nextGuard(next);
  EXPECT_TRUE(nextGuard.StartInstanceGuard());
  nextGuard.EndInstanceGuard();

  SimRuntime killedCopy(CopyAt(semaphores)), rejectedCopy(CopyAt(semaphores)), blocked(CopyAt(semaphores));
  auto killed = killedCopy.CreateNamedSemaphore(kName, 1, 1);
  ASSERT_TRUE(killed->Wait(kInstanceWait));
  InstanceGuard rejectedGuard(rejectedCopy);
  ASSERT_TRUE(rejectedGuard.IsAlreadyRunning());
  killed.reset();
  InstanceGuard blockedGuard(blocked);
  EXPECT_FALSE(blockedGuard.StartInstanceGuard());
}

TEST(InstanceGuard, AGuardThatCannotBeMadeOrWaitedOnCountsAsRunning) {
  for (const bool refuseName : {true, false}) {
    SimSemaphoreNamespace semaphores;
    if (refuseName) semaphores.RefuseName(kName);
    else semaphores.FailWaits(true);
    SimRuntime copy(CopyAt(semaphores));
    InstanceGuard guard(copy);
    EXPECT_FALSE(guard.StartInstanceGuard()) << refuseName;
    ASSERT_EQ(copy.Boxes().size(), 1u);
    EXPECT_EQ(copy.Boxes()[0].box.text, kAlreadyRunningText);
  }
}

}  // namespace
}  // namespace lu14
