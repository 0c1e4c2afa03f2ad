// MeterLink: the one path to the meter. Owns the two report buffers and the
// reference to the current meter, and runs the command transaction.
//
// Not re-entrant: there is one OutReport and one InReport. The only point
// inside a transaction where other handlers can run is the "Ошибка записи"
// box; a transaction started from one of them is refused with DeviceBusyError
// before anything is sent, and handlers can ask InTransaction() to stay out.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "app/Shell.h"
#include "app/components/Controls.h"
#include "device/MeterProtocol.h"
#include "device/TJvHidDevice.h"

namespace lu14 {

// A device operation while no meter is current.
class NoDeviceError : public std::runtime_error {
 public:
  NoDeviceError();
};

// A transaction asked for while another one waits in its message box.
class DeviceBusyError : public std::runtime_error {
 public:
  DeviceBusyError();
};

class MeterLink {
 public:
  // log: the window's message log, where the transaction reports retries.
  MeterLink(Shell& shell, TListBox& log);

  // The buffers, alive and shared for the whole run; zero at start.
  Report OutReport{};
  Report InReport{};

  // The checked-out meter the tool works with, or null. Refers to an object
  // of the controller's list; never owned here.
  TJvHidDevice* CurrentDevice() const { return currentDevice_; }
  void SetCurrentDevice(TJvHidDevice* device) { currentDevice_ = device; }

  // Sends the command with OutReport bytes 1..17 as the caller left them and
  // waits for the meter to report it done, retrying within fixed limits:
  // 2 sends a pass, 3 reads a cycle, busy replies and echo mismatches sharing
  // one attempt counter. verify: the echo of bytes 3..17 must match. true: the
  // reply (status 0) is in InReport. Throws NoDeviceError without a meter and
  // DeviceBusyError inside another transaction, before any transfer.
  bool SendCommand(std::uint8_t command, bool verify);

  // Feature transfers on the current meter, with the length read afresh from
  // its capability record. A length other than 19 fails the transfer (and is
  // logged once per device) instead of overrunning or cutting the buffer.
  // Throw NoDeviceError without a meter.
  bool SetFeature(const Report& report);
  bool GetFeature(Report& report);

  // true while a transaction runs (and so while its box is open).
  bool InTransaction() const { return inTransaction_; }

 private:
  TJvHidDevice& Device() const;
  bool LengthFits(TJvHidDevice& device);
  void Log(std::string_view text, std::uint8_t command);
  bool Send(std::uint8_t command);
  enum class ReadOutcome { Replied, GaveUp };
  ReadOutcome ReadCycle(std::uint8_t command);

  Shell& shell_;
  TListBox& log_;
  TJvHidDevice* currentDevice_ = nullptr;
  const TJvHidDevice* lengthReportedFor_ = nullptr;
  bool inTransaction_ = false;
};

}  // namespace lu14
