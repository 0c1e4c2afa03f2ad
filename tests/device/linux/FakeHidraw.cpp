#include "tests/device/linux/FakeHidraw.h"

#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <span>

namespace lu14::linux_hid {
namespace {

bool IsFeatureRequest(unsigned long request, unsigned long number) {
  return _IOC_TYPE(request) == 'H' && _IOC_NR(request) == number;
}

}  // namespace

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  FakeHidraw& device = *static_cast<FakeHidraw*>(data);
  std::lock_guard lock(device.mutex);
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
  // A local copy of the caller's memory; changes go back on completion.
  const auto resolve = [argument](std::size_t size) {
    return GPtr<UMockdevIoctlData>(umockdev_ioctl_data_resolve(argument, 0, size, nullptr));
  };
  long result = 0;
  int error = 0;

  if (request == HIDIOCGRAWINFO) {
    const auto info = resolve(sizeof(hidraw_devinfo));
    const hidraw_devinfo value{kBusUsb, static_cast<__s16>(device.vendorId), static_cast<__s16>(device.productId)};
    std::memcpy(info->data, &value, sizeof(value));
  } else if (request == HIDIOCGRDESCSIZE) {
    const auto size = resolve(sizeof(int));
    const int value = static_cast<int>(device.descriptor.size());
    std::memcpy(size->data, &value, sizeof(value));
    if (!device.descriptorReadable) error = EIO;
  } else if (request == HIDIOCGRDESC) {
    const auto descriptor = resolve(sizeof(hidraw_report_descriptor));
    std::uint32_t asked = 0;
    std::memcpy(&asked, descriptor->data, sizeof(asked));
    std::memcpy(descriptor->data + offsetof(hidraw_report_descriptor, value), device.descriptor.data(),
                std::min<std::size_t>(asked, device.descriptor.size()));
    if (!device.descriptorReadable) error = EIO;
  } else if (IsFeatureRequest(request, _IOC_NR(HIDIOCSFEATURE(0)))) {
    const std::size_t size = _IOC_SIZE(request);
    const auto report = resolve(size);
    device.written.emplace_back(report->data, report->data + size);
    result = static_cast<long>(size - device.shortBy);
    error = device.transferError;
    if (device.protocol && !device.protocol->SetFeature(std::span<const std::uint8_t>(report->data, size))) {
      error = EPIPE;
    }
  } else if (IsFeatureRequest(request, _IOC_NR(HIDIOCGFEATURE(0)))) {
    const std::size_t size = _IOC_SIZE(request);
    const auto report = resolve(size);
    device.readsAsked.emplace_back(report->data, report->data + size);
    if (device.protocol) {
      result = static_cast<long>(size);
      if (!device.protocol->GetFeature(std::span<std::uint8_t>(report->data, size))) error = EPIPE;
    } else {
      const std::size_t answered = std::min(size - device.shortBy, device.reply.size());
      std::memcpy(report->data, device.reply.data(), answered);
      result = static_cast<long>(answered);
      error = device.transferError;
    }
  } else {
    error = ENOTTY;
  }
  umockdev_ioctl_client_complete(client, error ? -1 : result, error);
  return TRUE;
}

}  // namespace lu14::linux_hid
