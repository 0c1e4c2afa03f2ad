// What lu14 says about recordings: a file it refuses to replay, a replay that
// left its recording, and the command line a recording's header keeps.
#pragma once

#include <string>
#include <vector>

#include "cli/output/Messages.h"
#include "hid/record/Recording.h"
#include "hid/record/ReplayHidPlatform.h"

namespace lu14::cli {

// The refusal of a file that is no recording, in the user's language.
std::string RecordingFaultText(Language language, const std::string& file, const record::RecordingFault& fault);

// The account of a replay that left its recording: the transfer's number, the
// recorded transfer and the one asked, and the recording's version when it is
// not this one's.
std::string DivergenceText(Language language, const record::ReplayDivergence& divergence,
                           const record::Recording& recording, const std::string& toolVersion);

// A command line as a recording's header keeps it.
std::string CommandLineText(const std::vector<std::string>& arguments);

}  // namespace lu14::cli
