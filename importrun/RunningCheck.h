#pragma once

#include <string_view>

#include "office/MessageBoxes.h"

namespace palomet {

// The warning shown when a spreadsheet application is already running; the user's
// words, carriage returns and line feeds exactly as they are.
inline constexpr std::string_view kRunningExcelQuestion =
    "Excel may be open. It is recommended that you close Excel first.\r"
    "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
    "Would you like to proceed anyway?";

// True when an instance registered as "Excel.Application" in the table of running
// instances answers its default property with exactly "Microsoft Excel". Every failure
// (above all: none running) answers False. Shows nothing and leaves the instance alone.
bool IsExcelRunning() noexcept;

// Asks whether to go on when IsExcelRunning (Yes and No, Yes the default). True when the
// import run must stop: a running instance and any answer but Yes.
bool StopForRunningExcel(MessageBoxes& boxes);

}  // namespace palomet
