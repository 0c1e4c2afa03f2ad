#include "cli/os/SystemLanguage.h"

namespace lu14::cli {

Language SystemLanguage() { return Language::English; }

Msg SystemLanguageRule() { return Msg::OtherwiseEnglish; }

}  // namespace lu14::cli
