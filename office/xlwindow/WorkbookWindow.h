#pragma once

// The workbook window: shown when an application's Visible is set to True. One window per
// application, a tab per sheet of its active workbook, a grid that fills as cells are
// written, "Save", "Save As…", "Open in spreadsheet application", and a question to save
// when an unsaved workbook is closed. Top-level, deleted on close: the process ends when no
// workbook window and no main window remain (QApplication::quitOnLastWindowClosed).

#include <QString>

class QWidget;
#include <functional>
#include <memory>

namespace palomet::xlwindow {

// What the window asks the user; the real one uses QFileDialog / QMessageBox, tests answer.
class WindowPrompts {
 public:
  enum class SaveAnswer { Save, Discard, Cancel };
  virtual ~WindowPrompts() = default;
  // Closing a window with an unsaved workbook.
  virtual SaveAnswer AskSaveChanges(const QString& workbookTitle) = 0;
  // "Save As…": the chosen path, or empty when cancelled.
  virtual QString AskSavePath(const QString& suggestedName) = 0;
  // A failure while saving or opening.
  virtual void ShowError(const QString& text) = 0;
};

// Opens a file in the desktop's application for it (QDesktopServices::openUrl by default).
using FileOpener = std::function<bool(const QString& path)>;

// The real prompts: the file dialog, and message boxes showing their text as plain text.
std::shared_ptr<WindowPrompts> MakeWindowPrompts();

// Installs the window as the engine's view factory. Call once after QApplication exists.
// `prompts` and `opener` default to the real dialogs and QDesktopServices. A new window
// opens wholly on the screen of `mainWindow` (when given and still there, else of the active
// window), cascaded from the last workbook window opened there.
void InstallWorkbookWindows(std::shared_ptr<WindowPrompts> prompts = nullptr,
                            FileOpener opener = nullptr, QWidget* mainWindow = nullptr);

}  // namespace palomet::xlwindow
