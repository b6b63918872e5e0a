#pragma once

#include "importrun/ImportRun.h"

namespace palomet {

class Form1;

// The main window as the import run sees it: its pointer and event serving, its
// message boxes, the list, Option2, ProgressBar1, and showing it in front again.
class Form1ImportWindow : public ImportWindow {
 public:
  explicit Form1ImportWindow(Form1& form) : form_(form) {}

  WindowHost& Host() override;
  MessageBoxes& Boxes() override;
  const FileList& Files() const override;
  bool MultipleSheets() const override;
  bool CombineTables() const override;
  // The bar shows whole percents, rounded: 33.33… shows 33, 66.66… shows 67.
  void SetProgress(double percent) override;
  void ShowInFront() override;

 private:
  Form1& form_;
};

}  // namespace palomet
