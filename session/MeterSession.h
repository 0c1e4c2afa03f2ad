// MeterSession: everything the tool does with one meter, over one link: the
// status poll, the option bytes, the firmware update with its backup, and the
// checksum readout (Memory.ReadChecksum). A front end points the link at the
// meter it chose and drives the parts, showing what they report through the
// views it implements; several sessions can run side by side, one per meter.
#pragma once

#include "device/MeterLink.h"
#include "device/MeterMemory.h"
#include "ports/LinkObserver.h"
#include "ports/Shell.h"
#include "ports/StatusView.h"
#include "ports/UpdateView.h"
#include "status/DeviceOptions.h"
#include "status/StatusPoll.h"
#include "update/FirmwarePayload.h"
#include "update/UpdateSequence.h"

namespace lu14 {

struct MeterSession {
  // The views must outlive the session; none is called while it is built.
  // pollReads: how the status poll takes the bytes it reads.
  MeterSession(Shell& shell, LinkObserver& linkObserver, StatusView& statusView, UpdateView& updateView,
               PollReads pollReads)
      : Link(shell, linkObserver),
        Memory(Link),
        Poll(Link, Memory, Payload, statusView, pollReads),
        Options(Memory),
        Update(Link, Memory, Payload, shell, updateView) {}
  MeterSession(const MeterSession&) = delete;
  MeterSession& operator=(const MeterSession&) = delete;

  // The carried firmware: its working copy and the image in sending order.
  FirmwarePayload Payload;
  MeterLink Link;
  MeterMemory Memory;
  StatusPoll Poll;
  DeviceOptions Options;
  UpdateSequence Update;
};

}  // namespace lu14
