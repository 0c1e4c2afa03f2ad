// LinkObserver: what the device link tells its front end while a transaction
// runs, and the one question it puts to the user.
//
// The link calls it from inside a transaction, on the user-interface thread.
// The window turns each event into its log line; the console tool shows them
// only when asked to be verbose.
#pragma once

#include <cstdint>

namespace lu14 {

enum class LinkEventKind {
  Resent,             // the first send of a command failed; it was sent once more
  ReadsFailed,        // the first two reads of a reply failed; a third was made
  GaveUp,             // the third read, or the second send, failed too: the transaction ends unconfirmed
  StillBusy,          // the meter stayed busy past the attempts allowed
  EchoMismatch,       // the reply did not echo the request; the write is repeated
  WrongReportLength,  // the device's feature report is not the meter's size: no transfer
};

struct LinkEvent {
  LinkEventKind kind;
  std::uint8_t command = 0;        // the command code, where the event concerns one
  std::uint16_t reportLength = 0;  // WrongReportLength: the length the device gave
};

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
