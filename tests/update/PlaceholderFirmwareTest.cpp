// The placeholder image the repository carries never reaches a meter unless
// the environment allows it: the update button says why and sends nothing.
#include <gtest/gtest.h>

#include "window/TMForm.h"
#include "window/WindowTexts.h"
#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"
#include "sim/meter/SimMeter.h"
#include "tests/device/MeterFixture.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;

TEST(PlaceholderFirmware, TheUpdateButtonRefusesUnlessTheEnvironmentAllowsIt) {
  ASSERT_TRUE(FirmwareBlobIsPlaceholder) << "this build carries a real image: nothing to refuse";
  struct Case {
    std::optional<std::string> variable;
    bool updates;
  };
  for (const Case& c : {Case{std::nullopt, false}, Case{"0", false}, Case{"true", false}, Case{"1", true}}) {
    SCOPED_TRACE(c.variable.value_or("(unset)"));
    sim::SimFileSystem files;
    sim::SimRuntime::Setup setup;
    setup.files = &files;
    if (c.variable) setup.environment[std::string(kAllowPlaceholderVariable)] = *c.variable;
    sim::SimRuntime runtime(setup);
    sim::SimHidBus bus(runtime);
    auto meter = std::make_shared<sim::SimMeter>();
    bus.Attach(MeterSpec(meter));
    TMForm form(runtime, bus, "Lu14-updater");
    runtime.SetEventSink(&form);
    ASSERT_TRUE(runtime.RunUntil([&] { return form.B1.Enabled(); }, 2s));
    const std::size_t commandsBefore = meter->CommandCodes().size();

    form.UserClick(ControlId::B1);
    runtime.RunFor(3s);
    if (c.updates) {
      EXPECT_GT(meter->Commits().size(), 0u);
      continue;
    }
    ASSERT_EQ(runtime.Boxes().size(), 1u);
    EXPECT_EQ(runtime.Boxes()[0].box.text,
              "Программа собрана с испытательной заглушкой вместо прошивки, обновление отменено");
    EXPECT_EQ(form.LB.Lines().back(), runtime.Boxes()[0].box.text);
    // Nothing but the polls reached the meter: no backup read, no mark, no chunk.
    const auto codes = meter->CommandCodes();
    EXPECT_EQ(std::count(codes.begin() + static_cast<std::ptrdiff_t>(commandsBefore), codes.end(), cmdWriteEeprom), 0);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), cmdWriteChunk), 0);
    EXPECT_EQ(meter->FirmwareFlag(), kFirmwareComplete);
    EXPECT_TRUE(files.FilesIn("C:/Users/user/Documents/lu14").empty());
    // The window polls on and offers the button again.
    EXPECT_TRUE(form.Timer1.Enabled());
    EXPECT_TRUE(form.B1.Enabled());
    EXPECT_EQ(form.Label1.Text(), "Текущая версия прошивки D1.50");
  }
}

}  // namespace
}  // namespace lu14::testing
