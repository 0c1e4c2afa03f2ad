#include "window/ProgramEntry.h"

#include <gtest/gtest.h>

#include "window/ShellTexts.h"
#include "tests/window/SimFrontEnd.h"
#include "sim/SimHidBus.h"

namespace lu14 {
namespace {

using namespace std::chrono_literals;
using sim::SimFrontEnd;
using sim::SimRuntime;
using sim::SimSemaphoreNamespace;

const std::u16string kName = u"C:/Program Files/LU14/lu14-updater.exe";

TEST(RunProgram, AnAcceptedCopyRunsItsWindowAndGivesTheGuardBack) {
  SimSemaphoreNamespace semaphores;
  SimRuntime::Setup setup;
  setup.semaphores = &semaphores;
  SimRuntime runtime(setup);
  sim::SimHidBus bus(runtime);
  SimFrontEnd frontEnd(runtime, 5s);
  EXPECT_EQ(RunProgram(runtime, bus, frontEnd), 0);
  EXPECT_TRUE(frontEnd.Ran());
  EXPECT_EQ(frontEnd.CaptionAtClose(), "Прошивка версии  D1.50 для ЛУ-14");
  EXPECT_EQ(runtime.StartedCommands().size(), 4u);
  EXPECT_TRUE(runtime.Boxes().empty());
  EXPECT_EQ(semaphores.Count(kName), std::nullopt);       // unit back, handle closed
}

TEST(RunProgram, ARejectedCopyOpensNoWindowStartsNoCommandAndEndsWithZero) {
  SimSemaphoreNamespace semaphores;
  SimRuntime::Setup setup;
  setup.semaphores = &semaphores;
  SimRuntime first(setup), second(setup);
  auto held = first.CreateNamedSemaphore(kName, 1, 1);
  ASSERT_TRUE(held->Wait(kInstanceWait));

  sim::SimHidBus bus(second);
  SimFrontEnd frontEnd(second, 5s);
  EXPECT_EQ(RunProgram(second, bus, frontEnd), 0);
  EXPECT_FALSE(bus.Listening());  // no window, so no controller either
  EXPECT_FALSE(frontEnd.Ran());
  EXPECT_TRUE(second.StartedCommands().empty());
  ASSERT_EQ(second.Boxes().size(), 1u);
  EXPECT_EQ(second.Boxes()[0].box.caption, "C:/Program Files/LU14/lu14-updater.exe");
  EXPECT_EQ(semaphores.Count(kName), 0);  // the first copy still holds its unit
}

}  // namespace
}  // namespace lu14
