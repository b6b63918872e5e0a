#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <QApplication>

#include "app/App.h"

int main(int argc, char** argv) {
  // Help and version are answered before Qt looks for a display, so that they work in a
  // terminal without one (the manual pages are made from them at build time).
  if (const auto status = palomet::RunInfoOption({argv + 1, argv + argc}, std::cout)) {
    return *status;
  }
  // A save that passes the process's file size limit must fail with an error the
  // workbook window reports, not kill the program with everything unsaved.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  return palomet::RunApp(app);
}
