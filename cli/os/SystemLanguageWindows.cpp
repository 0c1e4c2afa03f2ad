#include <windows.h>

#include "cli/os/SystemLanguage.h"

namespace lu14::cli {

Language SystemLanguage() {
  // The language of the user's menus and dialogs, which is what a person
  // expects a program to speak, rather than the format of dates and numbers.
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? Language::Russian : Language::English;
}

Msg SystemLanguageRule() { return Msg::OtherwiseWindowsLanguage; }

}  // namespace lu14::cli
