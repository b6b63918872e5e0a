#include "app/Form1ImportWindow.h"

#include <QProgressBar>
#include <cmath>

#include "app/Form1.h"

namespace palomet {

WindowHost& Form1ImportWindow::Host() {
  return form_;
}

MessageBoxes& Form1ImportWindow::Boxes() {
  return form_.Messages();
}

const FileList& Form1ImportWindow::Files() const {
  return form_.List();
}

bool Form1ImportWindow::MultipleSheets() const {
  return form_.Option2Value();
}

bool Form1ImportWindow::CombineTables() const {
  return form_.Check1Value();
}

void Form1ImportWindow::SetProgress(double percent) {
  form_.ProgressBar1()->setValue(static_cast<int>(std::lround(percent)));
}

void Form1ImportWindow::ShowInFront() {
  form_.show();
  form_.raise();
  form_.activateWindow();
}

}  // namespace palomet
