#include "window/TMForm.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"

namespace lu14 {
namespace {

using namespace std::chrono_literals;
using sim::SimRuntime;

struct FormFixture : ::testing::Test {
  FormFixture() { runtime.SetEventSink(&form); }
  SimRuntime runtime;
  sim::SimHidBus bus{runtime};
  TMForm form{runtime, bus, "Lu14-updater"};
};

TEST_F(FormFixture, StartsWithTheLayoutState) {
  EXPECT_EQ(form.Label1.Text(), "Пинцет ЛУ");
  EXPECT_FALSE(form.B1.Enabled());
  EXPECT_EQ(form.Pr1.Position(), 0);
  EXPECT_EQ(form.Pr1.Max(), 127);
  EXPECT_TRUE(form.LB.Lines().empty());
  EXPECT_TRUE(form.G6.Enabled());
  EXPECT_FALSE(form.C1.Visible());
  EXPECT_FALSE(form.C1.Enabled());
  EXPECT_TRUE(form.C2.Enabled());
  EXPECT_TRUE(form.C3.Enabled());
  EXPECT_FALSE(form.C4.Enabled());
  for (const TCheckBox* box : {&form.C1, &form.C2, &form.C3, &form.C4}) EXPECT_FALSE(box->Checked());
  EXPECT_TRUE(form.Button1.Enabled());
  EXPECT_EQ(form.E1.Text(), "E1");
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_EQ(form.Timer1.Interval(), 1000ms);
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_EQ(form.Timer2.Interval(), 2ms);
  EXPECT_FALSE(form.Timer3.Enabled());
  EXPECT_EQ(form.Timer3.Interval(), 1ms);
}

TEST(WindowLayout, TextsKeepTheirExactCharacters) {
  EXPECT_EQ(LayoutOf(ControlId::C1).text.substr(0, 1), "A");  // Latin A, not Cyrillic А
  EXPECT_EQ(LayoutOf(ControlId::C1).hint.substr(0, 2), "А");  // the hint begins with the Cyrillic one
  EXPECT_EQ(LayoutOf(ControlId::C2).text, "Изменение U при подключенной емкости >1мкФ");
  EXPECT_EQ(LayoutOf(ControlId::C4).text, "Доработка прибора ЛУ14  (см. форум)");
  EXPECT_EQ(LayoutOf(ControlId::C3).hint, "Рокировка  поворота  по часовой  и против часовой");
  int hintsShown = 0;
  for (const ControlLayout& control : kControlLayouts) hintsShown += control.hintsOn && control.visible ? 1 : 0;
  EXPECT_EQ(hintsShown, 2);  // C2 and C3 only
}

TEST_F(FormFixture, FormCreateEndsCompanionProgramsAndSetsTheStartCaption) {
  EXPECT_EQ(runtime.StartedCommands(),
            (std::vector<std::string>{"TASKKILL /F /IM RLC_l11.exe", "TASKKILL /F /IM RLC_l10.exe",
                                      "TASKKILL /F /IM RLC_l12.exe", "TASKKILL /F /IM RLC_l14.exe"}));
  EXPECT_EQ(form.Caption(), "Прошивка версии  D1.50 для ЛУ-14");
  EXPECT_EQ(form.State().ModelSuffix, form.Caption());
  EXPECT_EQ(form.State().ModelCode, 0);
  EXPECT_TRUE(runtime.Boxes().empty());
}

TEST(TMFormStart, CommandsThatCannotStartAreIgnoredSilently) {
  SimRuntime runtime;
  runtime.FailCommands(true);
  sim::SimHidBus bus(runtime);
  TMForm form(runtime, bus, "Lu14-updater");
  EXPECT_TRUE(runtime.Boxes().empty());
  EXPECT_EQ(form.Caption(), "Прошивка версии  D1.50 для ЛУ-14");
}

TEST_F(FormFixture, UserInputReachesOnlyVisibleEnabledControls) {
  int b1 = 0, c1 = 0, c2 = 0, g6 = 0;
  form.B1.OnClick = [&] { ++b1; };
  form.C1.OnClick = [&] { ++c1; };
  form.C2.OnClick = [&] { ++c2; };
  form.G6.OnClick = [&] { ++g6; };

  form.UserClick(ControlId::B1);  // disabled
  form.UserClick(ControlId::C1);  // hidden
  form.UserClick(ControlId::C4);  // disabled
  form.UserClick(ControlId::C2);
  form.UserClick(ControlId::G6);
  EXPECT_EQ(b1, 0);
  EXPECT_EQ(c1, 0);
  EXPECT_EQ(c2, 1);
  EXPECT_EQ(g6, 1);
  EXPECT_TRUE(form.C2.Checked());

  form.G6.SetEnabled(false);  // a disabled group passes nothing to its boxes
  form.UserClick(ControlId::C2);
  EXPECT_EQ(c2, 1);
  form.B1.SetEnabled(true);
  form.UserClick(ControlId::B1);
  EXPECT_EQ(b1, 1);
}

TEST_F(FormFixture, AFailingHandlerIsReportedAndTheProgramGoesOn) {
  form.C3.OnClick = [&] {
    form.LB.Append("before the failure");
    throw std::runtime_error("Device not open");
  };
  form.UserClick(ControlId::C3);
  ASSERT_EQ(runtime.Boxes().size(), 1u);
  EXPECT_EQ(runtime.Boxes()[0].box, (MessageBoxRequest{"Device not open.", "Lu14-updater", true, true}));
  EXPECT_EQ(form.LB.Lines(), (std::vector<std::string>{"before the failure"}));  // what it changed stays
  EXPECT_TRUE(form.C3.Checked());

  int ticks = 0;
  form.Timer2.SetOnTimer([&] {
    ++ticks;
    throw std::runtime_error("tick failed!");
  });
  form.Timer2.SetEnabled(true);
  runtime.SetBoxAnswerDelay(0ms);
  runtime.RunFor(5ms);
  EXPECT_GE(ticks, 2);  // the timer stays on as the handler left it
  EXPECT_EQ(runtime.Boxes().back().box.text, "tick failed!");
}

TEST_F(FormFixture, TicksGoOnWhileAFailureBoxIsOpen) {
  int ticks = 0;
  form.Timer3.SetOnTimer([&] { ++ticks; });
  form.C2.OnClick = [] { throw std::runtime_error("boom"); };
  form.Timer3.SetEnabled(true);
  runtime.SetBoxAnswerDelay(100ms);
  form.UserClick(ControlId::C2);
  EXPECT_EQ(ticks, 100);  // dispatched by the box's own loop
}

TEST_F(FormFixture, NothingRunsAfterTheWindowIsClosed) {
  int ticks = 0, clicks = 0;
  form.Timer2.SetOnTimer([&] { ++ticks; });
  form.Timer2.SetEnabled(true);
  form.C2.OnClick = [&] { ++clicks; };
  form.UserClose();
  EXPECT_TRUE(form.Closed());
  runtime.RunFor(100ms);
  form.UserClick(ControlId::C2);
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(clicks, 0);
}

}  // namespace
}  // namespace lu14
