#include "window/FailureReport.h"

#include "window/MessageBoxes.h"
#include "window/WindowTexts.h"
#include "device/MeterLink.h"
#include "ports/Utf.h"

namespace lu14 {
namespace {

// Lower case for the scripts a Windows program name realistically uses: ASCII,
// Latin-1 and Cyrillic. Other characters are left as they are.
char16_t ToLower(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 0x20);  // А..Я
  if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 0x50);  // Ѐ..Џ
  return c;
}

}  // namespace

std::string FailureText(const std::exception_ptr& failure) {
  if (!failure) return {};
  try {
    std::rethrow_exception(failure);
  } catch (const LinkError& refused) {
    return std::string(refused.Fault() == LinkFault::NoDevice ? kNoDeviceText : kDeviceBusyText);
  } catch (const std::exception& outer) {
    try {
      std::rethrow_if_nested(outer);
    } catch (...) {
      std::string inner = FailureText(std::current_exception());
      if (!inner.empty()) return inner;
    }
    return outer.what();
  } catch (...) {
    return {};
  }
}

std::string WithFullStop(std::string text) {
  // In UTF-8 a non-ASCII last character ends in a byte >= 0x80, and its code
  // point is above U+002E as well, so comparing the last byte is enough.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
  return text;
}

std::string ApplicationTitle(std::u16string_view programPath) {
  const auto slash = programPath.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? programPath : programPath.substr(slash + 1);
  name = name.substr(0, name.find(u'.'));
  std::u16string title(name);
  for (std::size_t i = 1; i < title.size(); ++i) title[i] = ToLower(title[i]);
  return Utf16ToUtf8(title);
}

void ReportUnhandledFailure(Shell& shell, std::string_view applicationTitle, const std::exception_ptr& failure) {
  shell.ShowMessageBox(FailureBox(WithFullStop(FailureText(failure)), applicationTitle));
}

}  // namespace lu14
