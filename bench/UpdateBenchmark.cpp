// Wall time of a whole update: the real core in the wall-clock runtime
// against the simulated meter, each transfer taking a fixed latency. Prints
// the figures and their ratio to the floor the protocol sets: the transfer
// latency, the pauses it mandates and Timer2's 2 ms period before every
// chunk tick after the first.
//
//   lu14-update-benchmark [--latency-us N]     (default 1000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "window/TMForm.h"
#include "runtime/RealTimeRuntime.h"
#include "device/MeterProtocol.h"
#include "sim/SimHidBus.h"
#include "sim/meter/SimMeter.h"
#include "window/WindowTexts.h"
#include "update/UpdateParameters.h"

namespace {

using namespace std::chrono;

bool Logged(const lu14::TMForm& form, std::string_view line) {
  const auto& lines = form.LB.Lines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

int main(int argc, char** argv) {
  microseconds latency{1000};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--latency-us") == 0 && i + 1 < argc) {
      latency = microseconds(std::stol(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--latency-us N]\n", argv[0]);
      return 2;
    }
  }

  // The meter here is simulated: it may take the placeholder image.
  setenv(std::string(lu14::kAllowPlaceholderVariable).c_str(), "1", 1);
  const std::filesystem::path documents = std::filesystem::temp_directory_path() / "lu14-benchmark-documents";
  lu14::RealTimeRuntime runtime(documents, std::cerr);
  lu14::sim::SimHidBus bus(runtime);
  auto meter = std::make_shared<lu14::sim::SimMeter>();
  lu14::sim::SimHidSpec spec;
  spec.deviceId = 1;
  spec.path = u"simulated-meter";
  spec.attributes = {lu14::kMeterVendorId, lu14::kMeterProductId, 0x0100};
  spec.device = meter;
  bus.Attach(spec);
  lu14::TMForm form(runtime, bus, "lu14-update-benchmark");
  runtime.SetEventSink(&form);
  bus.SetTransferLatency(latency);

  if (!runtime.RunUntil([&] { return form.B1.Enabled(); }, seconds(30))) {
    std::fprintf(stderr, "the poll never enabled the update button\n");
    return 1;
  }
  const std::size_t transfersBefore = bus.Transfers();
  const std::size_t commandsBefore = meter->CommandCodes().size();
  const auto pausedBefore = runtime.Paused();
  const auto start = steady_clock::now();
  form.UserClick(lu14::ControlId::B1);
  const bool done = runtime.RunUntil([&] { return Logged(form, lu14::kLogUpdateDone); }, minutes(10));
  const auto wall = steady_clock::now() - start;
  if (!done) {
    std::fprintf(stderr, "the update did not finish\n");
    return 1;
  }

  const std::size_t transfers = bus.Transfers() - transfersBefore;
  const std::size_t transactions = meter->CommandCodes().size() - commandsBefore;
  const auto chunkTicks = lu14::kStreamedLength / lu14::kChunkSize;  // each re-arms Timer2
  const auto floor = latency * static_cast<long>(transfers) + (runtime.Paused() - pausedBefore) +
                     milliseconds(2) * static_cast<long>(chunkTicks) + milliseconds(1);
  const double wallMs = duration<double, std::milli>(wall).count();
  const double floorMs = duration<double, std::milli>(floor).count();
  std::printf("transfer latency   %ld us\n", static_cast<long>(latency.count()));
  std::printf("transactions       %zu\n", transactions);
  std::printf("transfers          %zu\n", transfers);
  std::printf("wall time          %.1f ms\n", wallMs);
  std::printf("protocol floor     %.1f ms\n", floorMs);
  std::printf("wall / floor       %.4f\n", wallMs / floorMs);
  std::filesystem::remove_all(documents);
  return 0;
}
