// LinkObserver: what the device link tells its front end while a transaction
// runs, and the one question it puts to the user.
//
// The link calls it from inside a transaction, on the user-interface thread.
// The window turns each event into its log line; the console tool shows them
// only when asked to be verbose.
#pragma once

#include <cstdint>

namespace lu14 {

// The value the observer is given (device/LinkEvent.h).
struct LinkEvent;

class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  virtual void LinkEventHappened(const LinkEvent& event) = 0;
  // A verified write was not echoed after every pass allowed. Returns once the
  // user has taken note; a window shows a modal box, whose message loop may
  // run other handlers meanwhile (the link refuses their transactions).
  virtual void WriteNotConfirmed(std::uint8_t command) = 0;
};

}  // namespace lu14
