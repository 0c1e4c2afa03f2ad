// What the session shows on the page, and nothing else: each call hands a
// value or a finished text to the page's script (site/page.js), which only
// puts it into the element the call names. The texts come from lu14's
// catalogue; the script holds none of its own.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lu14::web {

// The text of the element whose data-testid (or data-text) is `name`.
void ShowText(const char* name, const std::string& text);
// Whether the control whose data-testid is `name` takes input.
void SetEnabled(const char* name, bool enabled);
// Option switch `index` (kMeterOptions order): its state (nothing: unread)
// and whether it may be changed now.
void ShowOption(int index, std::optional<bool> on, bool changeable);
// Appends a line to the log.
void AppendLog(const std::string& line);
// The update's progress bar and the words beside it.
void ShowProgress(int done, int total, const std::string& text);
// The list whose data-testid is `name` holds these lines, one item each.
void ShowLines(const char* name, const std::vector<std::string>& lines);
// A checkbox the user may tick: shown unticked beside `label`, or hidden
// when `label` is empty.
void ShowCheckbox(const char* name, const std::string& label);
// How a job ended (the update's in "result"): success or failure and why;
// an empty text clears it.
void ShowResult(const char* name, bool success, const std::string& text);
// Offers the file `path` of the module's file system as a download named
// `name`, on the link labelled `label`.
void OfferDownload(const std::string& path, const std::string& name, const std::string& label);
// An update holds the meter: the page keeps the screen awake and warns
// before it is closed, with `warning`.
void SetUpdating(bool updating, const std::string& warning);

// A file's name as the page shows it (UTF-8).
std::string FileNameText(const std::filesystem::path& file);

}  // namespace lu14::web
