// LinkEvent: what the device link reports while a transaction runs.
#pragma once

#include <cstdint>

namespace lu14 {

enum class LinkEventKind : int {
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

}  // namespace lu14
