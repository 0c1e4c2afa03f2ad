// The option boxes' writes and the checksum readout, as a user works them.
#include <gtest/gtest.h>

#include "tests/status/PollFixture.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using sim::CommandFault;
using sim::Commands;

// The EEPROM writes the meter received, as (address, value).
std::vector<std::pair<int, int>> Writes(const sim::SimMeter& meter) {
  std::vector<std::pair<int, int>> writes;
  for (const auto& request : meter.Requests(cmdWriteEeprom)) writes.emplace_back(request[1] << 8 | request[2], request[3]);
  return writes;
}

TEST_F(PollFixture, ClicksBeforeTheFirstCompleteTickChangeTheBoxButWriteNothing) {
  runtime.RunFor(1ms);
  form.UserClick(ControlId::C2);
  form.UserClick(ControlId::C3);
  EXPECT_TRUE(form.C2.Checked());
  EXPECT_TRUE(form.C3.Checked());
  EXPECT_TRUE(Writes(*meter).empty());
}

TEST_F(PollFixture, TickingAndClearingTheUsersBoxesWritesTheirBytes) {
  Tick();
  form.UserClick(ControlId::C2);  // tick
  form.UserClick(ControlId::C2);  // clear
  form.UserClick(ControlId::C3);
  form.UserClick(ControlId::C3);
  EXPECT_EQ(Writes(*meter), (std::vector<std::pair<int, int>>{{856, 0}, {856, 1}, {1022, 1}, {1022, 0}}));
  EXPECT_EQ(meter->Eeprom(kEepromMenuSwap), 0);
  form.UserClick(ControlId::C1);  // hidden
  form.UserClick(ControlId::C4);  // disabled
  form.UserClick(ControlId::G6);  // the group itself does nothing
  EXPECT_EQ(Writes(*meter).size(), 4u);
}

TEST_F(PollFixture, ProgramSetBoxesWriteTheirOwnPolarityWhileInSync) {
  Tick();
  const std::pair<TCheckBox*, std::pair<int, int>> cases[] = {
      {&form.C1, {947, 1}}, {&form.C4, {957, 0}}};
  for (const auto& [box, write] : cases) {
    box->SetChecked(true);
    EXPECT_EQ(Writes(*meter).back(), write);
  }
}

TEST_F(PollFixture, AClickWithNoMeterWritesNothingAndShowsNothing) {
  Tick();
  bus.Unplug(7);
  runtime.RunFor(1ms);  // removed; the next tick has not come yet, G6 still enabled
  form.UserClick(ControlId::C2);
  EXPECT_TRUE(form.C2.Checked());
  EXPECT_TRUE(Writes(*meter).empty());
  EXPECT_TRUE(runtime.Boxes().empty());
}

TEST_F(PollFixture, ChecksumReadoutShowsTheThreeReplyBytesLowestFirst) {
  Tick();
  meter->Faults().Add({.which = Commands::NextOf(cmdReadChecksum), .checksum = 0x030201});
  form.UserClick(ControlId::Button1);  // Tab onto it and Space
  EXPECT_EQ(form.E1.Text(), "197121");
  form.UserClick(ControlId::Button1);
  EXPECT_EQ(form.E1.Text(), std::to_string(meter->Checksum()));
}

TEST_F(PollFixture, ChecksumReadoutWithNoMeterGoesToTheFailureReport) {
  bus.Unplug(7);
  runtime.RunFor(1ms);
  form.UserClick(ControlId::Button1);
  EXPECT_EQ(form.E1.Text(), "E1");
  ASSERT_EQ(runtime.Boxes().size(), 1u);
  EXPECT_EQ(runtime.Boxes()[0].box, (MessageBoxRequest{"Устройство не подключено.", "Lu14-updater", true, true}));
}

TEST_F(PollFixture, WhileAWriteErrorBoxIsOpenNoOtherTransactionStarts) {
  Tick();
  runtime.SetBoxAnswerDelay(2500ms);  // two poll ticks come while the box is open
  meter->Faults().Add({.which = Commands::NextOf(cmdWriteEeprom, 4), .corruptEcho = true});
  std::size_t commandsWhileOpen = 0;
  runtime.SetBoxHook([&](const MessageBoxRequest& box) {
    if (box.text != "Ошибка записи") return;
    const std::size_t before = CommandsSent();
    runtime.At(runtime.Elapsed() + 100ms, [&] { form.UserClick(ControlId::C3); });
    runtime.At(runtime.Elapsed() + 200ms, [&] { form.UserClick(ControlId::Button1); });
    runtime.At(runtime.Elapsed() + 2400ms, [&, before] { commandsWhileOpen = CommandsSent() - before; });
  });
  form.UserClick(ControlId::C2);
  EXPECT_EQ(commandsWhileOpen, 0u);
  ASSERT_EQ(runtime.Boxes().size(), 2u);
  EXPECT_EQ(runtime.Boxes()[0].box.text, "Ошибка записи");
  EXPECT_EQ(runtime.Boxes()[1].box.text, "Устройство занято другой командой.");
  Tick();
  EXPECT_EQ(CommandsSent(), 34u + 4u + 34u);  // polling goes on afterwards
}

}  // namespace
}  // namespace lu14::testing
