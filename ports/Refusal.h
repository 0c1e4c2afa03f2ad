// Refusal: an error the core's surroundings raise instead of doing a step:
// the link refusing a transaction (LinkError), a view that cannot show what
// it was given (ViewError: a window's list refusing a line). The core ends
// the step under way on a refusal; anything else is a fault of the program
// and goes on to the front end's failure report.
#pragma once

#include <stdexcept>

namespace lu14 {

class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ViewError : public Refusal {
 public:
  using Refusal::Refusal;
};

}  // namespace lu14
