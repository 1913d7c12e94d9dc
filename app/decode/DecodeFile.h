// One input file's work: decoded to its output, tested, or described, and
// everything the run says about it.
#pragma once

#include <string>

#include "app/decode/DecodeOptions.h"
#include "app/decode/OutputFormat.h"

namespace talveco {

struct FileTask {
    std::string input;   // as given; "-" is standard input
    std::string output;  // "-" is standard output; empty for --info and --test
    OutputFormat format = OutputFormat::Wav;
};

struct FileReport {
    std::string info;      // the --info line, for standard output
    std::string messages;  // summary, notes and problems, for standard error
    bool failed = false;
};

// Never throws: every failure ends up in the report. `secondThread` tells
// whether the file's stream may unpack on a second thread.
FileReport runFileTask(const FileTask& task, const DecodeOptions& options, bool secondThread);

}  // namespace talveco
