// Faults at the transfers and commands of `lu14 --simulate update --yes
// --json` (sampled in CI, every point with LU14_DENSE_SWEEPS=1): what lu14
// says and the exit code it gives are held against the meter, the backup
// against the EEPROM it was made from, and the same command run again must
// finish the update.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/SimulatedMeter.h"
#include "device/MeterProtocol.h"
#include "sim/SimFileSystem.h"
#include "sim/SimRuntime.h"
#include "tests/update/UpdateRun.h"
#include "tests/update/sweep/PlantedFault.h"
#include "tests/update/sweep/SweepPoints.h"
#include "update/BackupFile.h"
#include "update/SettingsRestore.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using cli::CliSession;
using cli::SimulatedMeter;

constexpr std::size_t kTransferStride = 157;
constexpr std::size_t kCommandStride = 53;
constexpr std::uint32_t kLuMeterId = 1;  // the first simulated meter's device id
const sim::Path kDocuments = "/home/u/Documents";

// One meter, its disk and its clock, kept from one lu14 run to the next.
struct LuBench {
  LuBench() : runtime(Setup(files)), meter(runtime, "", 0us) {}

  static sim::SimRuntime::Setup Setup(sim::SimFileSystem& files) {
    sim::SimRuntime::Setup setup;
    setup.files = &files;
    setup.startTime = {2026, 12, 10, 9, 30, 0};
    return setup;
  }
  sim::SimHidBus& Bus() { return static_cast<sim::SimHidBus&>(meter.Platform()); }
  sim::SimMeter& Meter() { return meter.Meter(); }

  // `lu14 --simulate update --yes --json`: the exit code and the JSON lines.
  int Update(std::vector<nlohmann::json>& lines) {
    const cli::ParseResult parsed = cli::ParseCommandLine({"--simulate", "update", "--yes", "--json"},
                                                          cli::Language::English);
    std::ostringstream out, err;
    int exitCode = 0;
    {
      CliSession session(*parsed.options, runtime, runtime, meter.Platform(), out, err, false, [&] { meter.Step(); });
      exitCode = session.Run();
    }
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
      lines.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    return exitCode;
  }
  // Puts the meter back on the bus if it was pulled out.
  void PlugBackIn() {
    runtime.RunFor(10ms);
    if (Bus().Present(kLuMeterId)) return;
    sim::SimHidSpec spec;
    spec.deviceId = kLuMeterId;
    spec.path = u"simulated-meter-1";
    spec.attributes = {kMeterVendorId, kMeterProductId, 0x0100};
    spec.device = std::shared_ptr<sim::SimMeter>(&Meter(), [](sim::SimMeter*) {});  // the bench owns it
    Bus().Plug(spec);
    runtime.RunFor(10ms);
  }

  sim::SimFileSystem files{kDocuments};
  sim::SimRuntime runtime;
  SimulatedMeter meter;
};

bool Whole(sim::SimMeter& meter) {
  return std::equal(ExpectedImage().begin(), ExpectedImage().begin() + kStreamedLength, meter.Flash().begin()) &&
         meter.VersionText() == kFirmwareVersionText && meter.FirmwareFlag() == kFirmwareComplete;
}

// What lu14 claimed against the meter, and its backups against `before`.
void CheckRun(LuBench& bench, int exitCode, const std::vector<nlohmann::json>& lines, const EepromImage& before,
              std::vector<sim::Path>& known, std::vector<std::string>& broken, const std::string& when) {
  if (exitCode == cli::kExitOk && !Whole(bench.Meter())) broken.push_back(when + ": exit 0 without the whole firmware");
  if (!bench.Meter().Commits().empty() && bench.Meter().FirmwareFlag() == kFirmwareComplete && !Whole(bench.Meter())) {
    broken.push_back(when + ": the meter is marked complete over a wrong image");
  }
  const auto ends = std::count_if(lines.begin(), lines.end(), [](const nlohmann::json& line) {
    return line.is_object() && (line.value("event", "") == "result" || line.contains("error"));
  });
  if (ends != 1 || lines.empty() || lines.back().value("exit", -1) != exitCode) {
    broken.push_back(when + ": not one JSON result with the exit code, but " + std::to_string(ends));
  } else if (lines.back().contains("ok") && lines.back()["ok"].get<bool>() != (exitCode == cli::kExitOk)) {
    broken.push_back(when + ": the JSON result's ok disagrees with the exit code");
  }
  for (const sim::Path& file : bench.files.FilesIn(kDocuments / "lu14")) {
    if (std::find(known.begin(), known.end(), file) != known.end()) continue;
    known.push_back(file);
    const auto bytes = bench.files.FileContents(file);
    const BackupText text = ReadBackupText(std::string(bytes->begin(), bytes->end()));
    if (file.extension() != ".hex" || !text.image) {
      broken.push_back(when + ": a file that is no whole backup is left");
    } else if (*text.image != before) {
      broken.push_back(when + ": the backup differs from the meter's EEPROM");
    }
  }
}

std::vector<std::string> LuUpdateUnderFaults(const PlantedFault& fault) {
  std::vector<std::string> broken;
  LuBench bench;
  const EepromImage before = EepromOf(bench.Meter());
  Plant(bench.Bus(), bench.Meter(), kLuMeterId, fault);
  std::vector<nlohmann::json> lines;
  const int exitCode = bench.Update(lines);
  std::vector<sim::Path> backups;
  CheckRun(bench, exitCode, lines, before, backups, broken, "the update");
  if (exitCode == cli::kExitOk) return broken;

  bench.Meter().Faults().Clear();
  bench.PlugBackIn();
  const EepromImage beforeRetry = EepromOf(bench.Meter());
  std::vector<nlohmann::json> retryLines;
  const int retry = bench.Update(retryLines);
  CheckRun(bench, retry, retryLines, beforeRetry, backups, broken, "the same command again");
  if (retry != cli::kExitOk) broken.push_back("the same command again: exit " + std::to_string(retry));
  for (std::uint16_t address = 0; address < kEepromSize; ++address) {
    if (!OwnedByUpdate(address) && bench.Meter().Eeprom(address) != before[address]) {
      broken.push_back("EEPROM " + std::to_string(address) + " changed");
      break;
    }
  }
  return broken;
}

struct LuSpan {
  std::size_t firstTransfer, lastTransfer, firstCommand, lastCommand;
};

// A clean run's transfers and commands, from lu14's first on.
LuSpan CleanLuSpan() {
  LuBench bench;
  bench.Meter().SetTracing(true);
  std::vector<nlohmann::json> lines;
  EXPECT_EQ(bench.Update(lines), cli::kExitOk);
  return {1, bench.Bus().Transfers(), 0, bench.Meter().CommandCodes().size() - 1};
}

void Finish(const SweepFailures& failures) {
  std::printf("%s\n", failures.Summary().c_str());
  EXPECT_EQ(failures.Failed(), 0u) << failures.Report();
}

// Every transfer before the update's first write: the status read, and the
// backup's first reads. A meter pulled out there ends the run with an error
// and leaves the meter as it was.
TEST(LuUpdateSweep, AMeterPulledOutBeforeTheUpdateWritesEndsTheRunAndLeavesItUntouched) {
  constexpr std::size_t kStatusAndSomeBackup = 200;
  for (std::size_t at = 1; at <= kStatusAndSomeBackup; ++at) {
    SCOPED_TRACE("unplugged at transfer " + std::to_string(at));
    LuBench bench;
    bench.Bus().UnplugAtTransfer(at, kLuMeterId);
    std::vector<nlohmann::json> lines;
    EXPECT_EQ(bench.Update(lines), cli::kExitFailed);
    EXPECT_TRUE(bench.Meter().Commits().empty());
    EXPECT_EQ(bench.Meter().FirmwareFlag(), kFirmwareComplete);
    EXPECT_TRUE(bench.files.FilesIn(kDocuments / "lu14").empty());
  }
}

TEST(LuUpdateSweep, WhatLu14SaysAndItsBackupHoldUnderAFaultAnywhere) {
  const LuSpan span = CleanLuSpan();
  SweepFailures failures("lu14 update, a fault at a transfer or a command");
  std::size_t kind = 0;
  for (const FaultKind fault : kTransferFaults) {
    for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kTransferStride, kind++)) {
      const PlantedFault planted{.kind = fault, .at = at};
      failures.Add(Describe(planted), LuUpdateUnderFaults(planted));
    }
  }
  for (const FaultKind fault : kCommandFaults) {
    for (const std::size_t at : SweepPoints(span.firstCommand, span.lastCommand, kCommandStride, kind++)) {
      const std::size_t echoByte = kEchoFirst + (at + kind) % (kEchoLast - kEchoFirst + 1);
      const PlantedFault planted{.kind = fault, .at = at, .echoByte = echoByte};
      failures.Add(Describe(planted), LuUpdateUnderFaults(planted));
    }
  }
  Finish(failures);
}

}  // namespace
}  // namespace lu14::testing
