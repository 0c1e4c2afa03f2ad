#include "web/WebHidPlatform.h"

#include <emscripten.h>

#include <string>

namespace lu14::web {
namespace {

constexpr std::u16string_view kPathHead = u"webhid-";

// The page's registry of devices: every permitted device of the meter's
// vendor and product gets a number the first time it is seen, and loses it
// when it is disconnected. `notify` tells the program the set changed.
EM_JS(void, lu14_hid_start, (int vendorId, int productId), {
  const filter = { vendorId, productId };
  const matches = (device) => device.vendorId === vendorId && device.productId === productId;
  const hid = {
    devices: new Map(),
    nextId: 1,
    add(device) {
      const known = this.idOf(device);
      if (known) return known;
      const id = this.nextId++;
      this.devices.set(id, device);
      return id;
    },
    // Emscripten's minifier mangles destructuring in for-of: plain loops here.
    idOf(device) {
      let found = 0;
      this.devices.forEach((known, id) => { if (known === device) found = id; });
      return found;
    },
    notify() { Module._lu14_hid_devices_changed(); },
    // Runs from the Connect button's click: the chooser needs the user's gesture.
    async choose() {
      try {
        for (const device of await navigator.hid.requestDevice({ filters: [filter] })) this.add(device);
        this.notify();
      } catch (error) {
        const text = allocateUTF8(String(error));
        Module._lu14_page_command(5, 0, text);
        _free(text);
      }
    },
  };
  Module.hid = hid;
  navigator.hid.addEventListener("connect", (event) => {
    if (!matches(event.device)) return;
    hid.add(event.device);
    hid.notify();
  });
  navigator.hid.addEventListener("disconnect", (event) => {
    hid.devices.delete(hid.idOf(event.device));
    hid.notify();
  });
  navigator.hid.getDevices().then((devices) => {
    for (const device of devices.filter(matches)) hid.add(device);
    hid.notify();
  });
});

EM_JS(int, lu14_hid_available, (), { return typeof navigator !== "undefined" && "hid" in navigator ? 1 : 0; });

EM_JS(int, lu14_hid_count, (), { return Module.hid.devices.size; });
EM_JS(int, lu14_hid_id_at, (int index), { return [...Module.hid.devices.keys()][index]; });

EM_JS(int, lu14_hid_attributes, (int id, std::uint16_t* vendorId, std::uint16_t* productId), {
  const device = Module.hid.devices.get(id);
  if (!device) return 0;
  if (vendorId) HEAPU16[vendorId >> 1] = device.vendorId;
  if (productId) HEAPU16[productId >> 1] = device.productId;
  return 1;
});

// The size of the device's first feature report, the report-ID byte
// included, from the report descriptor the browser parsed; 0 when it has none.
EM_JS(int, lu14_hid_feature_length, (int id), {
  const device = Module.hid.devices.get(id);
  if (!device) return 0;
  for (const collection of device.collections) {
    for (const report of collection.featureReports || []) {
      const bits = report.items.reduce((sum, item) => sum + item.reportSize * item.reportCount, 0);
      return Math.ceil(bits / 8) + 1;
    }
  }
  return 0;
});

EM_ASYNC_JS(int, lu14_hid_open, (int id), {
  const device = Module.hid.devices.get(id);
  if (!device) return 0;
  try {
    if (!device.opened) await device.open();
    return 1;
  } catch (error) {
    return 0;
  }
});

// WebHID takes the report ID apart from the data.
EM_ASYNC_JS(int, lu14_hid_send, (int id, const std::uint8_t* report, int length), {
  const device = Module.hid.devices.get(id);
  if (!device || !device.opened) return 0;
  try {
    await device.sendFeatureReport(HEAPU8[report], HEAPU8.slice(report + 1, report + length));
    return 1;
  } catch (error) {
    return 0;
  }
});

// Whether the data begins with the report-ID byte differs between browsers
// and systems: both lengths are taken, and the report ID is put in front
// where it is missing.
EM_ASYNC_JS(int, lu14_hid_receive, (int id, std::uint8_t* report, int length), {
  const device = Module.hid.devices.get(id);
  if (!device || !device.opened) return 0;
  try {
    const reportId = HEAPU8[report];
    const view = await device.receiveFeatureReport(reportId);
    const bytes = new Uint8Array(view.buffer, view.byteOffset, view.byteLength);
    if (bytes.length === length) {
      HEAPU8.set(bytes, report);
    } else if (bytes.length === length - 1) {
      HEAPU8[report] = reportId;
      HEAPU8.set(bytes, report + 1);
    } else {
      return 0;
    }
    return 1;
  } catch (error) {
    return 0;
  }
});

class FeatureLength : public HidPreparsedData {
 public:
  explicit FeatureLength(int length) : length_(length) {}
  std::optional<HidCaps> GetCaps() const override {
    if (length_ <= 0) return std::nullopt;
    return HidCaps{.featureReportByteLength = static_cast<std::uint16_t>(length_)};
  }

 private:
  int length_;
};

// The browser keeps a device open for the page; a handle only names it.
class WebHidHandle : public HidHandle {
 public:
  explicit WebHidHandle(int id) : id_(id) {}
  std::optional<HidAttributes> GetAttributes() override {
    HidAttributes attributes;
    if (!lu14_hid_attributes(id_, &attributes.vendorId, &attributes.productId)) return std::nullopt;
    return attributes;
  }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    return std::make_unique<FeatureLength>(lu14_hid_feature_length(id_));
  }
  bool SetFeature(std::span<const std::uint8_t> report) override {
    return !report.empty() && lu14_hid_send(id_, report.data(), static_cast<int>(report.size())) != 0;
  }
  bool GetFeature(std::span<std::uint8_t> report) override {
    return !report.empty() && lu14_hid_receive(id_, report.data(), static_cast<int>(report.size())) != 0;
  }

 private:
  int id_;
};

std::optional<int> IdOfPath(const std::u16string& path) {
  if (!path.starts_with(kPathHead)) return std::nullopt;
  int id = 0;
  for (const char16_t c : std::u16string_view(path).substr(kPathHead.size())) {
    if (c < u'0' || c > u'9') return std::nullopt;
    id = id * 10 + (c - u'0');
  }
  return id;
}

}  // namespace

WebHidPlatform::WebHidPlatform(EventLoop& loop, std::uint16_t vendorId, std::uint16_t productId)
    : loop_(loop), vendorId_(vendorId), productId_(productId) {}

bool WebHidPlatform::Available() { return lu14_hid_available() != 0; }

bool WebHidPlatform::Bind() {
  if (!Available()) return false;
  lu14_hid_start(vendorId_, productId_);
  return true;
}

std::optional<std::vector<HidInterface>> WebHidPlatform::PresentInterfaces() {
  std::vector<HidInterface> present;
  const int count = lu14_hid_count();
  for (int index = 0; index < count; ++index) {
    const int id = lu14_hid_id_at(index);
    const std::string digits = std::to_string(id);
    present.push_back({std::u16string(kPathHead) + std::u16string(digits.begin(), digits.end()),
                       static_cast<std::uint32_t>(id)});
  }
  return present;
}

std::unique_ptr<HidHandle> WebHidPlatform::Open(const std::u16string& path, bool readWrite) {
  const std::optional<int> id = IdOfPath(path);
  if (!id) return nullptr;
  // Asking for attributes needs no open device; transfers do.
  if (readWrite ? !lu14_hid_open(*id) : !lu14_hid_attributes(*id, nullptr, nullptr)) return nullptr;
  return std::make_unique<WebHidHandle>(*id);
}

bool WebHidPlatform::StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) {
  onDevicesChanged_ = std::move(onDevicesChanged);
  return true;
}

void WebHidPlatform::PostDevicesChanged(std::intptr_t secondParameter) {
  loop_.Post([this, secondParameter] {
    if (onDevicesChanged_) onDevicesChanged_(secondParameter);
  });
}

}  // namespace lu14::web
