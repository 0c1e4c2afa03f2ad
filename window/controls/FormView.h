// FormView: a real window that mirrors the form model. The model owns every
// control's state; after each change it tells the view which control to redraw
// from the model. Without a view (tests, the console) the model works alone.
#pragma once

#include <string>

#include "resources/WindowLayout.h"

namespace lu14 {

class FormView {
 public:
  virtual ~FormView() = default;
  // The window caption changed.
  virtual void CaptionChanged() = 0;
  // Any state of this control changed: re-read it from the model.
  virtual void ControlChanged(ControlId id) = 0;
  // A line was appended to the log; false when the list box refused it.
  virtual bool LineAppended(const std::string& line) = 0;
  virtual void LinesCleared() = 0;
};

// The form's link to its view, shared by all its controls.
class ViewLink {
 public:
  void Attach(FormView* view) { view_ = view; }
  void CaptionChanged() const {
    if (view_) view_->CaptionChanged();
  }
  void ControlChanged(ControlId id) const {
    if (view_) view_->ControlChanged(id);
  }
  bool LineAppended(const std::string& line) const { return !view_ || view_->LineAppended(line); }
  void LinesCleared() const {
    if (view_) view_->LinesCleared();
  }

 private:
  FormView* view_ = nullptr;
};

}  // namespace lu14
