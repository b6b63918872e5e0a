#pragma once

class QApplication;

namespace palomet {

// Runs the program on `app`: the main window with the real dialogs, message boxes,
// settings store and desktop, until the last window closes. Returns the exit
// status.
//
// With the arguments --screenshot FILE [ENTRY...] it instead builds the window
// with fresh settings and the given list entries, saves a picture of it as a PNG
// to FILE and returns (used by scripts/screenshot.sh; no browser is ever opened).
int RunApp(QApplication& app);

}  // namespace palomet
