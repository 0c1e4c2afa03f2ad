#include "window/controls/Controls.h"

#include <gtest/gtest.h>

#include "window/ShellTexts.h"

namespace lu14 {
namespace {

// A view that records what it was told and can refuse log lines.
struct RecordingView : FormView {
  void CaptionChanged() override { events.push_back("caption"); }
  void ControlChanged(ControlId id) override { events.push_back("control " + std::to_string(static_cast<int>(id))); }
  bool LineAppended(const std::string& line) override {
    events.push_back("line " + line);
    return !refuseLines;
  }
  void LinesCleared() override { events.push_back("cleared"); }
  std::vector<std::string> events;
  bool refuseLines = false;
};

TEST(CheckBox, ProgramSettingANewValueFiresTheClickHandlerTheSameValueNothing) {
  ViewLink link;
  TCheckBox box(ControlId::C2, link);
  std::vector<bool> seen;
  box.OnClick = [&] { seen.push_back(box.Checked()); };
  box.SetChecked(false);
  box.SetChecked(true);
  box.SetChecked(true);
  box.SetChecked(false);
  box.Toggle();  // a user's click
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
}

TEST(CheckBox, AHandlerThatSetsItsOwnBoxBackRunsOnceMore) {
  ViewLink link;
  TCheckBox box(ControlId::C3, link);
  int clicks = 0;
  box.OnClick = [&] {
    if (++clicks == 1) box.SetChecked(false);
  };
  box.SetChecked(true);
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(box.Checked());
}

TEST(ListBox, AppendsWithoutLimitClearsAndReportsARefusedLine) {
  ViewLink link;
  RecordingView view;
  link.Attach(&view);
  TListBox list(ControlId::LB, link);
  for (int i = 0; i < 5000; ++i) list.Append("line " + std::to_string(i));
  EXPECT_EQ(list.Lines().size(), 5000u);
  list.Clear();
  EXPECT_TRUE(list.Lines().empty());
  EXPECT_EQ(view.events.back(), "cleared");

  view.refuseLines = true;
  try {
    list.Append("Пинцет ЛУ-14 подключен");
    FAIL() << "expected the refusal";
  } catch (const std::runtime_error& failure) {
    EXPECT_EQ(failure.what(), kListRefusedLineText);
  }
  EXPECT_TRUE(list.Lines().empty());
}

TEST(ProgressBar, PositionStaysWithinTheRangeAndTheMaximumStays) {
  ViewLink link;
  TProgressBar bar(ControlId::Pr1, link, 127);
  const std::pair<int, int> positions[] = {{0, 0}, {64, 64}, {127, 127}, {128, 127}, {-1, 0}};
  for (const auto& [set, shown] : positions) {
    bar.SetPosition(set);
    EXPECT_EQ(bar.Position(), shown) << set;
  }
  bar.SetMax(235);
  bar.SetPosition(128);
  EXPECT_EQ(bar.Position(), 128);
  bar.SetMax(100);
  EXPECT_EQ(bar.Position(), 100);
}

TEST(Controls, ChangesReachTheView) {
  ViewLink link;
  RecordingView view;
  link.Attach(&view);
  TLabel label(ControlId::Label1, link);
  EXPECT_EQ(label.Text(), "Пинцет ЛУ");
  label.SetText("Подключите устройство ");
  TButton button(ControlId::B1, link);
  EXPECT_FALSE(button.Enabled());
  button.SetEnabled(false);  // no change, nothing to redraw
  button.SetEnabled(true);
  EXPECT_EQ(view.events, (std::vector<std::string>{"control 0", "control 1"}));
}

}  // namespace
}  // namespace lu14
