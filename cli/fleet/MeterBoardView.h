// Shows an update --all: a line per meter (its identity, or its id until the
// identity is read, phase and percent) redrawn in place on a terminal, a line prefixed by the meter's id
// every tenth of the way otherwise, or the meters' JSON events with their id;
// at the end a result per meter and a summary.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/fleet/MeterBoard.h"

namespace lu14::cli {

class MeterBoardView {
 public:
  // terminal: the error stream is a terminal (the lines redraw in place);
  // columns: its width (0: not known), which each line fits: its bar
  // narrows, the meter's name loses a stretch that does not tell it from the
  // others, its phase and percent stay.
  MeterBoardView(const CliOptions& options, std::ostream& out, std::ostream& err, bool terminal,
                 std::size_t columns = 0);

  // What happened since the last call, and every meter's state now.
  void Show(const std::vector<MeterBoard::Happening>& happenings, const std::vector<MeterBoard::Meter>& meters);
  // One result per meter on the output stream, then the summary.
  void Results(const std::vector<MeterBoard::Meter>& meters, int exitCode);
  // Something said below the lines drawn so far.
  void Say(const std::string& text);

  // A meter's identity for the terminal, or for JSON (null before it was read).
  static std::string Identity(const MeterBoard::Meter& meter, Language language);
  static nlohmann::json JsonIdentity(const MeterBoard::Meter& meter);

 private:
  // The name a meter's line starts with: its identity, or its id until read.
  std::string Name(const MeterBoard::Meter& meter) const;
  // telling: the code points of the name that tell it from the others', kept
  // when it is shortened.
  std::string Line(const MeterBoard::Meter& meter, const std::string& name,
                   std::pair<std::size_t, std::size_t> telling) const;
  std::string PhaseName(std::optional<UpdatePhase> phase) const;

  const CliOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  std::size_t columns_;
  std::size_t linesDrawn_ = 0;
  std::vector<std::string> drawn_;
  std::vector<int> tenthShown_;  // without a terminal: the tenth last shown, per meter
};

}  // namespace lu14::cli
