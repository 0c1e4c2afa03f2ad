// A hidraw device node's far side for tests under umockdev: the ioctls the
// Linux adapter makes (raw info, report descriptor, feature reports) answered
// from a scripted device or from a protocol model such as the simulated meter.
#pragma once

#include <umockdev.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/SimHidDevice.h"

namespace lu14::linux_hid {

using Bytes = std::vector<std::uint8_t>;
inline constexpr std::uint32_t kBusUsb = 3;

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

// The device behind one emulated node. umockdev runs the ioctl handler on its
// worker thread while the test thread waits inside ioctl().
struct FakeHidraw {
  std::mutex mutex;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  Bytes descriptor;
  bool descriptorReadable = true;
  Bytes reply;                    // what a feature read answers, report-ID byte first
  int transferError = 0;          // errno of every feature transfer; 0: they succeed
  std::size_t shortBy = 0;        // bytes a feature transfer's result falls short by
  std::vector<Bytes> written;     // each feature report written, whole buffer
  std::vector<Bytes> readsAsked;  // each feature read's buffer as it arrived
  // When set, feature transfers go to this device instead, as they come.
  sim::SimHidDevice* protocol = nullptr;

  std::size_t Transfers() {
    std::lock_guard lock(mutex);
    return written.size() + readsAsked.size();
  }
};

// The "handle-ioctl" signal handler of a UMockdevIoctlBase; `data` is the
// FakeHidraw behind the node.
gboolean HandleIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer data);

}  // namespace lu14::linux_hid
