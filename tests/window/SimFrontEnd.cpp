#include "tests/window/SimFrontEnd.h"

namespace lu14::sim {

void SimFrontEnd::RunMessageLoop(TMForm& form) {
  ran_ = true;
  runtime_.At(runtime_.Elapsed() + closeAfter_, [&form] { form.UserClose(); });
  runtime_.RunUntil([&form] { return form.Closed(); }, closeAfter_);
  captionAtClose_ = form.Caption();
}

}  // namespace lu14::sim
