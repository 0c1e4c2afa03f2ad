// The language a run speaks when none of the locale variables names one: on
// Windows, where they are normally unset, the language of the user's Windows;
// on Linux English, as POSIX's "C" locale has it.
#pragma once

#include "cli/output/Messages.h"

namespace lu14::cli {

Language SystemLanguage();
// How the help tells that rule (it ends the sentence on the locale variables).
Msg SystemLanguageRule();

}  // namespace lu14::cli
