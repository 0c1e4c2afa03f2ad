// The web page's program: the page's script starts it with the page's
// choices as arguments (--language, --simulate[=FAULT], --latency-us N,
// --allow-placeholder) and sends it the user's commands through
// lu14_page_command. It runs one loop for ever: Asyncify returns to the
// browser whenever the core waits.
#include <emscripten.h>

#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "cli/SimulatedMeter.h"
#include "device/MeterProtocol.h"
#include "update/FirmwarePayload.h"
#include "runtime/RealTimeRuntime.h"
#include "web/PageBridge.h"
#include "web/PageSession.h"
#include "web/WebHidPlatform.h"

namespace {

using namespace lu14;

// Where the page's backups go in the module's file system, before they are
// offered as downloads.
constexpr const char* kDocumentsFolder = "/home/web_user/Documents";
// How long the loop runs before it looks for the page's commands again, at most.
constexpr std::chrono::milliseconds kCommandLatency{50};

struct Program {
  std::ostringstream boxes;
  RealTimeRuntime runtime{std::filesystem::path(kDocumentsFolder), boxes};
  std::unique_ptr<cli::SimulatedMeter> simulated;
  std::unique_ptr<web::WebHidPlatform> webHid;
  std::unique_ptr<web::PageSession> session;
};

Program* program = nullptr;

std::optional<std::string> ValueOf(std::string_view argument, std::string_view name) {
  if (!argument.starts_with(name)) return std::nullopt;
  argument.remove_prefix(name.size());
  if (argument.empty()) return std::string();
  if (argument.front() != '=') return std::nullopt;
  return std::string(argument.substr(1));
}

}  // namespace

// For the benchmark: the transfers the simulated meter answered and the
// pauses the core asked for so far, and the chunk ticks of an update, as
// JSON ({} without a simulated meter).
extern "C" EMSCRIPTEN_KEEPALIVE const char* lu14_simulated_figures() {
  static std::string figures;
  figures = "{}";
  if (!program || !program->simulated) return figures.c_str();
  const sim::SimMeter& meter = program->simulated->Meter();
  // Every chunk tick after the first waits its period (the native benchmark's count).
  const std::size_t chunkTicks = kStreamedLength / kChunkSize;
  const double pausedMs = std::chrono::duration<double, std::milli>(program->runtime.Paused()).count();
  figures = "{\"transfers\":" + std::to_string(meter.TransferCount()) + ",\"chunkTicks\":" + std::to_string(chunkTicks) +
            ",\"pausedMs\":" + std::to_string(pausedMs) + "}";
  return figures.c_str();
}

extern "C" EMSCRIPTEN_KEEPALIVE void lu14_hid_devices_changed() {
  if (program && program->webHid) program->webHid->DevicesChanged();
}

extern "C" EMSCRIPTEN_KEEPALIVE void lu14_page_command(int command, int argument, const char* text) {
  if (!program || !program->session) return;
  // Queued, not run here: the core may be waiting inside a transfer right now.
  program->runtime.Post([command, argument, owned = std::string(text ? text : "")] {
    program->session->Command(static_cast<web::PageCommand>(command), argument, owned);
  });
}

int main(int argc, char** argv) {
  web::PageChoices choices;
  std::optional<std::string> fault;
  long latencyUs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (const auto language = ValueOf(argument, "--language")) {
      choices.language = cli::LanguageOf(language->c_str(), nullptr, nullptr);
    } else if (const auto simulate = ValueOf(argument, "--simulate")) {
      fault = *simulate;
    } else if (const auto latency = ValueOf(argument, "--latency-us")) {
      latencyUs = std::strtol(latency->c_str(), nullptr, 10);
    } else if (argument == "--allow-placeholder") {
      choices.placeholderAllowed = true;
    }
  }
  program = new Program();
  choices.simulated = fault.has_value();
  HidPlatform* platform = nullptr;
  if (fault) {
    program->simulated = std::make_unique<cli::SimulatedMeter>(program->runtime, *fault,
                                                               std::chrono::microseconds(latencyUs));
    platform = &program->simulated->Platform();
  } else {
    program->webHid = std::make_unique<web::WebHidPlatform>(program->runtime, kMeterVendorId, kMeterProductId);
    platform = program->webHid.get();
    choices.canChoose = web::WebHidPlatform::Available();
    // Without WebHID the controller never scans: the page says why.
    if (!choices.canChoose) web::ShowText("no-webhid", cli::Text(choices.language, cli::Msg::PageNoWebHid));
  }
  program->session = std::make_unique<web::PageSession>(choices, program->runtime, program->runtime, *platform);
  for (;;) {
    program->runtime.RunUntil(
        [] {
          if (program->simulated) program->simulated->Step();
          return false;
        },
        kCommandLatency);
  }
}
