// LinuxHidPlatform: the udev monitor that stands for Windows' device-tree
// broadcast, and the posting of notices to the event loop.
//
// The monitor listens to udev's own events ("udev"), not the kernel's: udev
// sends them after its rules have run, so a new node already carries the
// permissions the udev rule gives it when the rescan opens it. With the
// kernel's events the rescan could find the node still root-only, fail to
// open it and not look again. Where no udev daemon runs, no events come and
// only the start-up scan sees devices.
#include <fcntl.h>

#include <cerrno>

#include "device/linux/LinuxHidPlatform.h"

namespace lu14::linux_hid {
namespace {
constexpr char kUdevEvents[] = "udev";
constexpr char kHidrawSubsystem[] = "hidraw";
// What Windows' system-wide broadcast carries as its second parameter.
constexpr std::intptr_t kSystemNotice = 0;
}  // namespace

bool LinuxHidPlatform::StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) {
  StopNotifications();
  if (!udev_) return false;
  UdevMonitorPtr monitor(udev_monitor_new_from_netlink(udev_.get(), kUdevEvents));
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), kHidrawSubsystem, nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor.get()) < 0) {
    return false;
  }
  // libudev makes the socket non-blocking already; Poll() relies on it, as a
  // blocking receive would stall the user-interface thread until an event.
  const int fd = udev_monitor_get_fd(monitor.get());
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;

  monitor_ = std::move(monitor);
  listener_ = std::make_shared<Listener>(Listener{std::move(onDevicesChanged)});
  return true;
}

void LinuxHidPlatform::PostDevicesChanged(std::intptr_t secondParameter) { PostNotice(secondParameter); }

void LinuxHidPlatform::StopNotifications() {
  listener_.reset();
  monitor_.reset();
}

int LinuxHidPlatform::NotificationDescriptor() const { return monitor_ ? udev_monitor_get_fd(monitor_.get()) : -1; }

std::size_t LinuxHidPlatform::Poll() {
  if (!monitor_) return 0;
  std::size_t events = 0;
  bool lost = false;
  for (;;) {
    errno = 0;
    const UdevDevicePtr device(udev_monitor_receive_device(monitor_.get()));
    if (!device) {
      // The kernel drops events when the socket's buffer overflows and says
      // so once with ENOBUFS: something changed, and a rescan catches up with
      // it. Events still waiting after that leave the descriptor readable.
      lost = errno == ENOBUFS;
      break;
    }
    ++events;
  }
  if (events > 0 || lost) PostNotice(kSystemNotice);
  return events;
}

void LinuxHidPlatform::PostNotice(std::intptr_t secondParameter) {
  if (!listener_) return;
  loop_.Post([weakListener = std::weak_ptr<Listener>(listener_), secondParameter] {
    // The strong reference keeps the callback alive should it stop the
    // notifications itself.
    if (const std::shared_ptr<Listener> listener = weakListener.lock()) listener->onDevicesChanged(secondParameter);
  });
}

}  // namespace lu14::linux_hid
