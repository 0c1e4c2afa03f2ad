// Models of the window's controls: their state and the toolkit rules the tool
// relies on. Each control tells the form's view when its state changes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "window/controls/FormView.h"
#include "resources/WindowLayout.h"

namespace lu14 {

class TControl {
 public:
  TControl(ControlId id, const ViewLink& link);
  ControlId Id() const { return id_; }
  bool Enabled() const { return enabled_; }
  bool Visible() const { return visible_; }
  void SetEnabled(bool enabled);

 protected:
  void Changed() const { link_.ControlChanged(id_); }

 private:
  ControlId id_;
  const ViewLink& link_;
  bool enabled_;
  bool visible_;
};

// Push button or group box: something that can be clicked.
class TClickable : public TControl {
 public:
  using TControl::TControl;
  std::function<void()> OnClick;
  // Runs the click handler, if one is attached.
  void Click() const {
    if (OnClick) OnClick();
  }
};

using TButton = TClickable;
using TGroupBox = TClickable;

class TCheckBox : public TClickable {
 public:
  using TClickable::TClickable;
  bool Checked() const { return checked_; }
  // Setting a new value from the program fires the click handler exactly as a
  // user's click does; setting the value the box already has fires nothing.
  void SetChecked(bool checked);
  // A user's click: toggles the box, which fires the handler.
  void Toggle() { SetChecked(!checked_); }

 private:
  bool checked_ = false;
};

class TLabel : public TControl {
 public:
  TLabel(ControlId id, const ViewLink& link);
  const std::string& Text() const { return text_; }
  // The label sizes itself to the new text; its left edge stays in place.
  void SetText(std::string text);

 private:
  std::string text_;
};

using TEdit = TLabel;

class TProgressBar : public TControl {
 public:
  TProgressBar(ControlId id, const ViewLink& link, int max);
  int Position() const { return position_; }
  int Max() const { return max_; }
  // Positions outside 0..Max are held at the nearest end, as the control does.
  void SetPosition(int position);
  // Nothing sets the maximum back to its initial value.
  void SetMax(int max);

 private:
  int position_ = 0;
  int max_;
};

// The message log: unsorted, unlimited, lines are only appended or all cleared.
class TListBox : public TControl {
 public:
  TListBox(ControlId id, const ViewLink& link);
  const std::vector<std::string>& Lines() const { return lines_; }
  // Throws std::runtime_error("Unable to insert a line") when the view's list
  // refuses the line; the model then does not keep it either.
  void Append(const std::string& line);
  void Clear();

 private:
  const ViewLink& link_;
  std::vector<std::string> lines_;
};

}  // namespace lu14
