#include "web/PageBridge.h"

#include <emscripten.h>

namespace lu14::web {
namespace {

EM_JS(void, lu14_show_text, (const char* name, const char* text), {
  Module.page.showText(UTF8ToString(name), UTF8ToString(text));
});
EM_JS(void, lu14_set_enabled, (const char* name, int enabled), {
  Module.page.setEnabled(UTF8ToString(name), enabled != 0);
});
EM_JS(void, lu14_show_option, (int index, int state, int changeable), {
  Module.page.showOption(index, state < 0 ? null : state != 0, changeable != 0);
});
EM_JS(void, lu14_append_log, (const char* line), { Module.page.appendLog(UTF8ToString(line)); });
EM_JS(void, lu14_show_progress, (int done, int total, const char* text), {
  Module.page.showProgress(done, total, UTF8ToString(text));
});
EM_JS(void, lu14_show_lines, (const char* name, const char* lines), {
  const text = UTF8ToString(lines);
  Module.page.showLines(UTF8ToString(name), text ? text.split("\n") : []);
});
EM_JS(void, lu14_show_checkbox, (const char* name, const char* label), {
  Module.page.showCheckbox(UTF8ToString(name), UTF8ToString(label));
});
EM_JS(void, lu14_show_result, (const char* name, int success, const char* text), {
  Module.page.showResult(UTF8ToString(name), success != 0, UTF8ToString(text));
});
EM_JS(void, lu14_offer_download, (const char* path, const char* name, const char* label), {
  Module.page.offerDownload(FS.readFile(UTF8ToString(path)), UTF8ToString(name), UTF8ToString(label));
});
EM_JS(void, lu14_set_updating, (int updating, const char* warning), {
  Module.page.setUpdating(updating != 0, UTF8ToString(warning));
});

}  // namespace

void ShowText(const char* name, const std::string& text) { lu14_show_text(name, text.c_str()); }
void SetEnabled(const char* name, bool enabled) { lu14_set_enabled(name, enabled ? 1 : 0); }
void ShowOption(int index, std::optional<bool> on, bool changeable) {
  lu14_show_option(index, on ? (*on ? 1 : 0) : -1, changeable ? 1 : 0);
}
void AppendLog(const std::string& line) { lu14_append_log(line.c_str()); }
void ShowProgress(int done, int total, const std::string& text) { lu14_show_progress(done, total, text.c_str()); }
void ShowLines(const char* name, const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += (joined.empty() ? "" : "\n") + line;
  lu14_show_lines(name, joined.c_str());
}
void ShowCheckbox(const char* name, const std::string& label) { lu14_show_checkbox(name, label.c_str()); }
void ShowResult(const char* name, bool success, const std::string& text) {
  lu14_show_result(name, success ? 1 : 0, text.c_str());
}
void OfferDownload(const std::string& path, const std::string& name, const std::string& label) {
  lu14_offer_download(path.c_str(), name.c_str(), label.c_str());
}
void SetUpdating(bool updating, const std::string& warning) { lu14_set_updating(updating ? 1 : 0, warning.c_str()); }

std::string FileNameText(const std::filesystem::path& file) {
  const std::u8string name = file.filename().u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace lu14::web
