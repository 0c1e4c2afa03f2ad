#include "window/controls/Controls.h"

#include <algorithm>
#include <stdexcept>

#include "window/ShellTexts.h"
#include "ports/Refusal.h"

namespace lu14 {

TControl::TControl(ControlId id, const ViewLink& link)
    : id_(id), link_(link), enabled_(LayoutOf(id).enabled), visible_(LayoutOf(id).visible) {}

void TControl::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

void TCheckBox::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Changed();
  Click();
}

TLabel::TLabel(ControlId id, const ViewLink& link) : TControl(id, link), text_(LayoutOf(id).text) {}

void TLabel::SetText(std::string text) {
  text_ = std::move(text);
  Changed();
}

TProgressBar::TProgressBar(ControlId id, const ViewLink& link, int max) : TControl(id, link), max_(max) {}

void TProgressBar::SetPosition(int position) {
  position_ = std::clamp(position, 0, max_);
  Changed();
}

void TProgressBar::SetMax(int max) {
  max_ = std::max(max, 0);
  position_ = std::min(position_, max_);
  Changed();
}

TListBox::TListBox(ControlId id, const ViewLink& link) : TControl(id, link), link_(link) {}

void TListBox::Append(const std::string& line) {
  if (!link_.LineAppended(line)) throw ViewError(std::string(kListRefusedLineText));
  lines_.push_back(line);
}

void TListBox::Clear() {
  lines_.clear();
  link_.LinesCleared();
}

}  // namespace lu14
