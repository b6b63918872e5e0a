#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace palomet {

// The command line `palomet-import [--multiple-sheets] [--keep-going] --output OUT.xlsx
// PATH...`, run in-process: `args` are the arguments after the program name. Help and
// version go to `out`; errors, and progress when `showProgress` (standard error is a
// terminal) and not --quiet, go to `err`. Returns the exit status: 0 when OUT.xlsx was
// written, 1 on an error (one line naming the file and what is wrong; no output file left
// behind), 2 on a usage error, 3 when --keep-going left files out of a workbook it wrote
// (a line for each, then one that counts them). Never throws.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool showProgress = false);

// Asks a run under way to stop: it ends at the next file, the next few rows or the next
// part of the save, cleans up as after an error, and RunCli returns 130, unless the new
// workbook has already taken the output's place (then the run ends as it would have).
// Safe to call from a signal handler.
void InterruptCli() noexcept;

// For a program about to end at once (a second interrupt): removes the private staging
// database and its folder, if any. Safe to call from a signal handler.
void AbandonCli() noexcept;

}  // namespace palomet
