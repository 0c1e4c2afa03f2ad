// The HidPlatform over Linux: hidraw device nodes for the devices, libudev for
// the list of present interfaces and for change notices.
//
// Interfaces: every node of the "hidraw" subsystem that has a device node,
// in udev's order (by sysfs path). The path is the node ("/dev/hidraw3"). The
// device identifier is a 32-bit FNV-1a hash of the node's sysfs path, e.g.
// /sys/devices/pci0000:00/.../0003:FF4D:F538.0007/hidraw/hidraw3. That path
// names the HID device instance, whose last field (.0007) the kernel counts up
// for every HID device it creates, so it stays the same while the device is
// attached and changes when it is plugged in again. The node's minor number
// would not do: a device plugged in later reuses a freed /dev/hidrawN. Two
// attached devices whose paths hash alike (about one chance in four billion
// per pair) would look like one device to the scan.
//
// Handles are file descriptors of the node; vendor and product come from
// HIDIOCGRAWINFO, the version from the USB device's bcdDevice (hidraw does
// not report it), the report descriptor from HIDIOCGRDESC (parsed by
// ReportDescriptor.h, as hidraw has no capability record), and feature reports
// go through HIDIOCSFEATURE and HIDIOCGFEATURE.
//
// Notices: a udev monitor on the "hidraw" subsystem. Nothing is called from
// another thread: the owner of the event loop watches NotificationDescriptor()
// and calls Poll() when it is readable (or simply on every turn of its loop);
// Poll() posts the notice to the loop, through which PostDevicesChanged goes
// too, so notices keep their order with each other and with other posted
// messages and are handled before due timer ticks, as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"
#include "device/linux/Udev.h"

namespace lu14::linux_hid {

// A present interface of the device asked about whose node this user may not
// open, neither for reading and writing nor for reading alone.
struct AccessProblem {
  std::string devnode;  // "/dev/hidraw3"
  int error = 0;        // errno of the refused open: EACCES or EPERM
  std::string message;  // one line for the user, naming the node and the remedy
};

class LinuxHidPlatform : public HidPlatform {
 public:
  // loop: where notices are posted; it must outlive this object. Notices still
  // queued when this object goes are dropped, not delivered.
  explicit LinuxHidPlatform(EventLoop& loop);
  ~LinuxHidPlatform() override;
  LinuxHidPlatform(const LinuxHidPlatform&) = delete;
  LinuxHidPlatform& operator=(const LinuxHidPlatform&) = delete;

  // Makes the libudev context; false when it cannot be had.
  bool Bind() override;
  std::optional<std::vector<HidInterface>> PresentInterfaces() override;
  // readWrite opens the node O_RDWR, otherwise O_RDONLY ("query only"). The
  // open mode only matters to read() and write() of input and output reports,
  // which the tool never uses: hidraw's ioctls (descriptor, attributes,
  // feature reports both ways) check no mode, so a node this user may read but
  // not write still serves the tool fully. Null when the node cannot be opened
  // (errno tells why; AccessProblems() turns a refusal into a message).
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override;
  // Starts the udev monitor (restarting it if it runs); false when the monitor
  // cannot be made.
  bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) override;
  // Posts the notice to the event loop; nothing while notifications are stopped.
  void PostDevicesChanged(std::intptr_t secondParameter) override;
  // Closes the monitor; notices already posted are dropped when their turn comes.
  void StopNotifications() override;

  // The monitor's file descriptor while notifications run, otherwise -1. It
  // becomes readable when udev events wait; it is never read except by Poll().
  int NotificationDescriptor() const;
  // Reads every waiting udev event without blocking and, if there was any,
  // posts one notice with 0 (the system's notice). Events that arrive together
  // (a device's add and bind, or several devices) thus cost one rescan.
  // Returns the number of hidraw events read. Call from the loop's thread.
  std::size_t Poll();

  // The present interfaces of vendorId:productId (as udev reports them, without
  // opening anything else) that this user may not open. The console tool shows
  // their messages when the meter is attached but cannot be used, typically
  // because the udev rule from resources/linux is not installed. Works before
  // Bind() too, with a context of its own.
  std::vector<AccessProblem> AccessProblems(std::uint16_t vendorId, std::uint16_t productId) const;

 private:
  struct Listener {
    std::function<void(std::intptr_t)> onDevicesChanged;
  };

  // Calls `visit` for each hidraw device present now; false when the set
  // cannot be had.
  static bool EnumerateHidraw(udev& context, const std::function<void(udev_device&)>& visit);
  void PostNotice(std::intptr_t secondParameter);

  EventLoop& loop_;
  UdevContext udev_;
  UdevMonitorPtr monitor_;
  // Posted notices hold it weakly: replacing or dropping it discards them.
  std::shared_ptr<Listener> listener_;
};

}  // namespace lu14::linux_hid
