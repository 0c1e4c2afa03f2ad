// MeterLink: the one path to a meter. Owns the two report buffers and the
// reference to the meter it talks to, and runs the command transaction.
//
// Not re-entrant: there is one OutReport and one InReport. The only point
// inside a transaction where other handlers can run is the "Ошибка записи"
// box; a transaction started from one of them is refused with DeviceBusyError
// before anything is sent, and handlers can ask InTransaction() to stay out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "device/LinkEvent.h"
#include "device/MeterProtocol.h"
#include "device/TJvHidDevice.h"
#include "ports/LinkObserver.h"
#include "ports/Refusal.h"
#include "ports/Shell.h"

namespace lu14 {

// Why the link refused to start a transaction. Each front end words it in
// its own language; what() is only for a developer's log.
enum class LinkFault {
  NoDevice,  // no meter is current
  Busy,      // another transaction waits in its message box
};

// An error the link raises instead of starting a transaction.
class LinkError : public Refusal {
 public:
  explicit LinkError(LinkFault fault);
  LinkFault Fault() const { return fault_; }

 private:
  LinkFault fault_;
};

class NoDeviceError : public LinkError {
 public:
  NoDeviceError() : LinkError(LinkFault::NoDevice) {}
};

class DeviceBusyError : public LinkError {
 public:
  DeviceBusyError() : LinkError(LinkFault::Busy) {}
};

class MeterLink {
 public:
  // observer: told of retries and asked when a verified write is not echoed.
  MeterLink(Shell& shell, LinkObserver& observer);

  // The request the next command sends: bytes 1..17 keep what they hold until
  // set again (a reply read into the request stays there too).
  void SetParameter(std::uint16_t parameter);  // bytes 1-2, high byte first
  void SetRequestByte(std::size_t index, std::uint8_t value);
  void SetRequestBytes(std::size_t first, std::span<const std::uint8_t> bytes);
  const Report& Request() const { return OutReport; }
  // The request as the last send that succeeded carried it: the command the
  // meter answers now, unless the meter lost it.
  const Report& LastSent() const { return lastSent_; }
  // The last reply read by a transaction.
  const Report& Reply() const { return InReport; }
  // The last reply echoes bytes first..17 of the request as it stands (from
  // 3, where no result of the command lies over the echo).
  bool ReplyEchoesRequest(std::size_t first = kEchoFirst) const;
  // Reads the meter's latest reply again, into the request buffer: the meter
  // answers some reads only there (see MeterMemory). false when it failed.
  bool RereadReplyIntoRequest() { return GetFeature(OutReport); }

  // The checked-out meter the link talks to, or null. Refers to an object
  // of the controller's list; never owned here.
  TJvHidDevice* CurrentDevice() const { return currentDevice_; }
  void SetCurrentDevice(TJvHidDevice* device) { currentDevice_ = device; }

  // Sends the command with OutReport bytes 1..17 as the caller left them and
  // waits for the meter to report it done, retrying within fixed limits:
  // 2 sends a pass, 3 reads a cycle, busy replies and echo mismatches sharing
  // one attempt counter. verify: the echo of bytes 3..17 must match. true: the
  // reply (status 0) is in InReport. When both sends of a pass fail the meter
  // never had the command: whatever it answers is an older command's reply,
  // so nothing is read and the result is false. Throws NoDeviceError without
  // a meter and DeviceBusyError inside another transaction, before any transfer.
  bool SendCommand(std::uint8_t command, bool verify);

  // Feature transfers on the current meter, with the length read afresh from
  // its capability record. A length other than 19 fails the transfer (and is
  // logged once per device) instead of overrunning or cutting the buffer.
  // Throw NoDeviceError without a meter.
  bool SetFeature(const Report& report);
  bool GetFeature(Report& report);

  // true while a transaction runs (and so while its box is open).
  bool InTransaction() const { return inTransaction_; }

  // A pause of the protocol, on the user-interface thread.
  void Pause(std::chrono::milliseconds duration) { shell_.Sleep(duration); }

 private:
  TJvHidDevice& Device() const;
  bool LengthFits(TJvHidDevice& device);
  void Tell(LinkEventKind kind, std::uint8_t command) { observer_.LinkEventHappened({kind, command}); }
  bool Send(std::uint8_t command);
  enum class ReadOutcome { Replied, GaveUp };
  ReadOutcome ReadCycle(std::uint8_t command);

  // The buffers, alive for the link's whole life; zero at start.
  Report OutReport{};
  Report InReport{};
  Report lastSent_{};
  Shell& shell_;
  LinkObserver& observer_;
  TJvHidDevice* currentDevice_ = nullptr;
  const TJvHidDevice* lengthReportedFor_ = nullptr;
  bool inTransaction_ = false;
};

}  // namespace lu14
