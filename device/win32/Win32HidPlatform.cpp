// Win32HidPlatform: binding, the scan of present HID interfaces, and device
// handles. The notification window is in Win32HidNotifications.cpp.
#include "device/win32/Win32HidPlatform.h"

#include <algorithm>
#include <cstddef>

#include "os/win32/Win32Handle.h"
#include "device/win32/Win32HidServices.h"

namespace lu14::win32 {
namespace {

// Where the path begins in the detail record: after its 4-byte size field.
// sizeof the record also counts one WCHAR of path, and on x86-64 padding to 8
// (6 on x86); that sizeof is what the size field must hold, and setupapi
// refuses any other value.
constexpr DWORD kDetailPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);

class DeviceInfoList {
 public:
  DeviceInfoList(const HidServices& services, HDEVINFO set) : services_(services), set_(set) {}
  ~DeviceInfoList() {
    if (set_ != INVALID_HANDLE_VALUE) services_.SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoList(const DeviceInfoList&) = delete;
  DeviceInfoList& operator=(const DeviceInfoList&) = delete;

  HDEVINFO get() const { return set_; }

 private:
  const HidServices& services_;
  HDEVINFO set_;
};

class Win32HidPreparsedData : public HidPreparsedData {
 public:
  Win32HidPreparsedData(std::shared_ptr<const HidServices> services, PHIDP_PREPARSED_DATA data)
      : services_(std::move(services)), data_(data) {}
  ~Win32HidPreparsedData() override { services_->HidD_FreePreparsedData(data_); }
  Win32HidPreparsedData(const Win32HidPreparsedData&) = delete;
  Win32HidPreparsedData& operator=(const Win32HidPreparsedData&) = delete;

  std::optional<HidCaps> GetCaps() const override {
    HIDP_CAPS caps{};
    if (services_->HidP_GetCaps(data_, &caps) != HIDP_STATUS_SUCCESS) return std::nullopt;
    return HidCaps{caps.FeatureReportByteLength};
  }

 private:
  std::shared_ptr<const HidServices> services_;
  PHIDP_PREPARSED_DATA data_;
};

class Win32HidHandle : public HidHandle {
 public:
  Win32HidHandle(std::shared_ptr<const HidServices> services, UniqueHandle handle)
      : services_(std::move(services)), handle_(std::move(handle)) {}

  std::optional<HidAttributes> GetAttributes() override {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!services_->HidD_GetAttributes(handle_.get(), &attributes)) return std::nullopt;
    return HidAttributes{attributes.VendorID, attributes.ProductID, attributes.VersionNumber};
  }

  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    PHIDP_PREPARSED_DATA data = nullptr;
    if (!services_->HidD_GetPreparsedData(handle_.get(), &data) || !data) return nullptr;
    return std::make_unique<Win32HidPreparsedData>(services_, data);
  }

  bool SetFeature(std::span<const std::uint8_t> report) override {
    // HidD_SetFeature takes a non-const buffer but only reads it.
    return services_->HidD_SetFeature(handle_.get(), const_cast<std::uint8_t*>(report.data()),
                                      static_cast<ULONG>(report.size())) != FALSE;
  }

  bool GetFeature(std::span<std::uint8_t> report) override {
    return services_->HidD_GetFeature(handle_.get(), report.data(), static_cast<ULONG>(report.size())) != FALSE;
  }

 private:
  std::shared_ptr<const HidServices> services_;
  UniqueHandle handle_;
};

}  // namespace

Win32HidPlatform::Win32HidPlatform(std::wstring setupApiPath, std::wstring hidPath)
    : systemLibraries_(false), setupApiPath_(std::move(setupApiPath)), hidPath_(std::move(hidPath)) {}

Win32HidPlatform::~Win32HidPlatform() { StopNotifications(); }

bool Win32HidPlatform::Bind() {
  services_ = systemLibraries_ ? BindSystemHidServices() : BindHidServicesAt(setupApiPath_, hidPath_);
  if (!services_) return false;
  services_->HidD_GetHidGuid(&hidGuid_);
  return true;
}

std::optional<std::vector<HidInterface>> Win32HidPlatform::PresentInterfaces() {
  if (!services_) return std::nullopt;
  const HidServices& setup = *services_;
  const DeviceInfoList set(setup, setup.SetupDiGetClassDevsW(&hidGuid_, nullptr, nullptr,
                                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (set.get() == INVALID_HANDLE_VALUE) return std::nullopt;

  std::vector<HidInterface> interfaces;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!setup.SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidGuid_, index, &interfaceData)) break;

    // First call without a buffer: it fails and tells the size the detail
    // needs. Any other outcome means the detail cannot be read.
    SP_DEVINFO_DATA deviceInfo{};
    deviceInfo.cbSize = sizeof(deviceInfo);
    DWORD required = 0;
    if (setup.SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, nullptr, 0, &required, &deviceInfo) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= kDetailPathOffset) {
      continue;
    }

    // Whole DWORDs keep the record's size field aligned.
    std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!setup.SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, detail, required, nullptr, &deviceInfo)) {
      continue;
    }
    // The size counts the terminating zero; the path ends at the first zero
    // within it in any case.
    const WCHAR* path = detail->DevicePath;
    const WCHAR* pathEnd = std::find(path, path + (required - kDetailPathOffset) / sizeof(WCHAR), L'\0');
    interfaces.push_back(HidInterface{
        std::u16string(reinterpret_cast<const char16_t*>(path), static_cast<std::size_t>(pathEnd - path)),
        static_cast<std::uint32_t>(deviceInfo.DevInst)});
  }
  return interfaces;
}

std::unique_ptr<HidHandle> Win32HidPlatform::Open(const std::u16string& path, bool readWrite) {
  if (!services_) return nullptr;
  // Access 0 still allows the HidD_ queries and feature reports on a device
  // that another program (or the system, for keyboards and mice) holds
  // exclusively for reading or writing.
  const DWORD access = readWrite ? GENERIC_READ | GENERIC_WRITE : 0;
  UniqueHandle handle(CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!handle) return nullptr;
  return std::make_unique<Win32HidHandle>(services_, std::move(handle));
}

}  // namespace lu14::win32
