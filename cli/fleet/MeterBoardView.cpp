#include "cli/fleet/MeterBoardView.h"

#include <algorithm>

#include "cli/output/JsonText.h"
#include "cli/output/TerminalText.h"
#include "ports/Utf.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {

constexpr int kBarWidth = 20;

}  // namespace

MeterBoardView::MeterBoardView(const CliOptions& options, std::ostream& out, std::ostream& err, bool terminal,
                               std::size_t columns)
    : options_(options), out_(out), err_(err), terminal_(terminal), columns_(columns) {}

std::string MeterBoardView::Identity(const MeterBoard::Meter& meter, Language language) {
  return meter.status ? TerminalSafe(meter.status->identity) : Text(language, Msg::Unknown);
}

nlohmann::json MeterBoardView::JsonIdentity(const MeterBoard::Meter& meter) {
  return meter.status ? nlohmann::json(CodePointsToUtf8(meter.status->identity)) : nlohmann::json(nullptr);
}

std::string MeterBoardView::PhaseName(std::optional<UpdatePhase> phase) const {
  if (!phase) return Text(options_.language, Msg::AllReading);
  switch (*phase) {
    case UpdatePhase::SavingSettings: return Text(options_.language, Msg::PhaseSavingSettings);
    case UpdatePhase::Writing: return Text(options_.language, Msg::PhaseWriting);
    case UpdatePhase::Finishing: return Text(options_.language, Msg::PhaseVerifying);
  }
  return {};
}

std::string MeterBoardView::Line(const MeterBoard::Meter& meter) const {
  // The id is long on Windows (a device path): the identity tells the meters
  // apart, the id only stands in until it is read.
  std::string line = (meter.status ? Identity(meter, options_.language) : meter.id) + "  ";
  if (meter.exitCode) {
    return line + Text(options_.language, *meter.exitCode == 0 ? Msg::AllEndedOk : Msg::AllEndedFailed);
  }
  line += PhaseName(meter.phase);
  // The last phase has no steps to count.
  if (!meter.phase || meter.phase == UpdatePhase::Finishing) return line;
  const int filled = std::clamp(meter.percent, 0, 100) * kBarWidth / 100;
  return line + " [" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " + std::to_string(meter.percent) + '%';
}

void MeterBoardView::Say(const std::string& text) {
  // Below the lines: they are drawn anew after it.
  err_ << text << '\n' << std::flush;
  linesDrawn_ = 0;
  drawn_.clear();
}

void MeterBoardView::Show(const std::vector<MeterBoard::Happening>& happenings,
                          const std::vector<MeterBoard::Meter>& meters) {
  std::vector<std::string> lines;  // the meters' own lines, shown with -v
  tenthShown_.resize(meters.size(), -1);
  for (const MeterBoard::Happening& happening : happenings) {
    const MeterBoard::Meter& meter = meters.at(happening.meter);
    using Kind = MeterBoard::Happening::Kind;
    if (happening.kind == Kind::Line) {
      if (options_.verbosity == Verbosity::Verbose) lines.push_back(meter.id + ": " + happening.line);
      continue;
    }
    const UpdatePhase phaseStep = happening.progress.phase;
    if (options_.json) {
      nlohmann::json event = happening.kind == Kind::Phase ? PhaseJson(phaseStep) : ProgressJson(happening.progress);
      event["meter"] = meter.id;
      out_ << JsonLine(event);
      continue;
    }
    if (terminal_ || options_.verbosity == Verbosity::Quiet) continue;
    const std::string phase = PhaseName(phaseStep);
    if (happening.kind == Kind::Phase) {
      tenthShown_[happening.meter] = -1;
      if (phaseStep == UpdatePhase::Finishing) lines.push_back(meter.id + ": " + phase + "...");
      continue;
    }
    const int percent = happening.progress.percent;
    if (percent / 10 == tenthShown_[happening.meter]) continue;
    tenthShown_[happening.meter] = percent / 10;
    lines.push_back(meter.id + ": " + phase + ": " + std::to_string(percent) + '%');
  }
  if (options_.json) out_ << std::flush;
  if (!terminal_ || options_.json || options_.verbosity == Verbosity::Quiet) {
    for (const std::string& line : lines) err_ << line << '\n';
    err_ << std::flush;
    return;
  }
  std::vector<std::string> board;
  // A line that wrapped would take two rows, and ESC [ n A would go back too few.
  for (const MeterBoard::Meter& meter : meters) board.push_back(FitColumns(Line(meter), columns_ ? columns_ - 1 : 0));
  if (lines.empty() && board == drawn_) return;
  // Back to the first line of the block, the meters' own lines above it, the block anew.
  if (linesDrawn_ > 0) err_ << "\x1b[" << linesDrawn_ << 'A';
  for (const std::string& line : lines) err_ << '\r' << line << "\x1b[K\n";
  for (const std::string& line : board) err_ << '\r' << line << "\x1b[K\n";
  err_ << std::flush;
  linesDrawn_ = board.size();
  drawn_ = std::move(board);
}

void MeterBoardView::Results(const std::vector<MeterBoard::Meter>& meters, int exitCode) {
  const Language language = options_.language;
  std::size_t succeeded = 0;
  for (const MeterBoard::Meter& meter : meters) {
    const int code = meter.exitCode.value_or(1);
    if (code == 0) ++succeeded;
    const UpdateReport report = meter.report.value_or(UpdateReport{.exitCode = code});
    if (options_.json) {
      nlohmann::json object = ReportJson(report);
      object.update({{"event", "result"}, {"meter", meter.id}, {"identity", JsonIdentity(meter)}, {"ok", code == 0},
                     {"exit", code}});
      out_ << JsonLine(object);
      continue;
    }
    const std::string identity = Identity(meter, language);
    std::string line;
    if (code == 0 && report.result == "up-to-date") {
      line = Text(language, Msg::AllAlreadyCurrent, {meter.id, identity, kFirmwareVersionText});
    } else if (code == 0) {
      line = Text(language, Msg::AllWritten, {meter.id, identity, kFirmwareVersionText});
    } else {
      line = Text(language, Msg::AllFailed, {meter.id, identity, report.message});
    }
    if (report.backup) line += Text(language, Msg::AllSavedTo, {*report.backup});
    out_ << line << '\n';
  }
  const std::string count = std::to_string(succeeded), total = std::to_string(meters.size());
  if (options_.json) {
    out_ << JsonLine({{"event", "summary"},
                      {"meters", meters.size()},
                      {"succeeded", succeeded},
                      {"ok", exitCode == 0},
                      {"exit", exitCode}});
  } else {
    out_ << Text(language, Msg::AllSummary, {count, total}) << '\n';
  }
  out_ << std::flush;
}

}  // namespace lu14::cli
