#include "cli/fleet/MeterBoardView.h"

#include <algorithm>
#include <vector>

#include "cli/output/JsonText.h"
#include "cli/output/TerminalText.h"
#include "ports/Utf.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {

// A line that does not fit the terminal gives up, in turn: bar marks down to
// kNarrowestBar, the middle of the meter's name down to kShortestName
// columns, then the bar; its phase and percent stay.
constexpr std::size_t kBarWidth = 20;
constexpr std::size_t kNarrowestBar = 10;
constexpr std::size_t kShortestName = 12;

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

std::string MeterBoardView::Name(const MeterBoard::Meter& meter) const {
  // The id is long on Windows (a device path): the identity tells the meters
  // apart, the id only stands in until it is read.
  return meter.status ? Identity(meter, options_.language) : meter.id;
}

std::string MeterBoardView::Line(const MeterBoard::Meter& meter, const std::string& name,
                                 std::pair<std::size_t, std::size_t> telling) const {
  const std::size_t room = columns_ > 0 ? columns_ - 1 : 0;  // a line that wrapped would take two rows
  // The name in the room the rest of the line leaves it.
  const auto fitted = [&](std::size_t rest) {
    return room == 0 ? name : Shorten(name, room > rest ? room - rest : 0, telling.first, telling.second);
  };
  const std::string state = meter.exitCode
                                ? Text(options_.language, *meter.exitCode == 0 ? Msg::AllEndedOk : Msg::AllEndedFailed)
                                : PhaseName(meter.phase);
  // The last phase has no steps to count.
  if (meter.exitCode || !meter.phase || meter.phase == UpdatePhase::Finishing) {
    return fitted(Columns(state) + 2) + "  " + state;
  }
  const std::string percent = std::to_string(meter.percent) + '%';
  const std::string head = "  " + state + " [", tail = "] " + percent;
  const auto bar = [&](std::size_t width) {
    const std::size_t filled = static_cast<std::size_t>(std::clamp(meter.percent, 0, 100)) * width / 100;
    return std::string(filled, '#') + std::string(width - filled, '.');
  };
  // The room is shared out as if the percent had its three digits, so that
  // the name keeps its length while the percent grows.
  const std::size_t around = Columns(head) + Columns("] 100%"), whole = Columns(name);
  if (room == 0 || room >= around + whole + kNarrowestBar) {
    const std::size_t left = room == 0 ? kBarWidth : room - Columns(head) - Columns(tail) - whole;
    return name + head + bar(std::min(kBarWidth, left)) + tail;
  }
  if (room >= around + kShortestName + kNarrowestBar) return fitted(around + kNarrowestBar) + head + bar(kNarrowestBar) + tail;
  return fitted(Columns("  " + state + " 100%")) + "  " + state + ' ' + percent;
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
  std::vector<std::string> names, board;
  for (const MeterBoard::Meter& meter : meters) names.push_back(Name(meter));
  // A shortened name keeps what tells it from the others: ids differ at
  // their end (simulated-meter-2, /dev/hidraw3), identities near their start
  // (B4C…, B4D…), Windows device paths in their middle. A line that wrapped
  // would take two rows, and ESC [ n A would go back too few: what even a
  // shortened name leaves too long is cut.
  for (std::size_t meter = 0; meter < meters.size(); ++meter) {
    const std::string line = Line(meters[meter], names[meter], DistinguishingPart(names, meter));
    board.push_back(FitColumns(line, columns_ ? columns_ - 1 : 0));
  }
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
