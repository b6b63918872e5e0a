#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "office/xl/Excel.h"
#include "office/xlwindow/WorkbookWindow.h"

class QMainWindow;
class QProgressBar;

namespace palomet::xlwindow {

// Writing a window's workbook: Save (to the file it was saved to, else as Save As), Save
// As, and opening its file in the desktop's spreadsheet application. A save that takes
// more than a moment shows the busy pointer and its progress in the status bar; meanwhile
// the window paints but takes no input, since the workbook must not change under the writer.
class WorkbookSaver : public QObject {
  Q_OBJECT
 public:
  WorkbookSaver(std::shared_ptr<xl::Application> app, std::shared_ptr<WindowPrompts> prompts,
                FileOpener opener, QMainWindow* window);

  // Each returns true once the workbook is written; false when the user cancelled, the
  // save failed (the error is shown) or a save is under way.
  bool Save();
  bool SaveAs();
  // Opens the workbook's file: first saved as Save As saves it when it never was (a cancel
  // opens nothing); when it changed since its save, the user is asked whether to save the
  // changes first.
  void OpenInSpreadsheet();
  // The question on closing an unsaved workbook.
  WindowPrompts::SaveAnswer AskSaveChanges();
  // True while a file is being written.
  bool Saving() const { return saving_; }
  // After this long a save shows the busy pointer and its progress (tests set 0).
  void SetFeedbackDelay(int ms) { feedbackDelayMs_ = ms; }

 private:
  bool SaveTo(const QString& path);
  // Writes the active workbook with the feedback above. Throws what the save throws.
  void Write(const QString& path);

  std::shared_ptr<xl::Application> app_;
  std::shared_ptr<WindowPrompts> prompts_;
  FileOpener opener_;
  QMainWindow* window_;
  bool saving_ = false;
  int feedbackDelayMs_ = 300;
  QProgressBar* progress_ = nullptr;  // in the status bar, made at the first long save
};

}  // namespace palomet::xlwindow
