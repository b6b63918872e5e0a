#include "office/xlwindow/WorkbookSaver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QProgressBar>
#include <QStatusBar>

namespace palomet::xlwindow {

WorkbookSaver::WorkbookSaver(std::shared_ptr<xl::Application> app,
                             std::shared_ptr<WindowPrompts> prompts, FileOpener opener,
                             QMainWindow* window)
    : QObject(window),
      app_(std::move(app)),
      prompts_(std::move(prompts)),
      opener_(std::move(opener)),
      window_(window) {}

void WorkbookSaver::Write(const QString& path) {
  xl::Workbook& wb = app_->ActiveWorkbook();
  QStatusBar* status = window_->statusBar();
  QElapsedTimer clock;
  clock.start();
  bool busy = false;
  qint64 pumped = -1;
  auto progress = [&](std::uint64_t done, std::uint64_t total) {
    const qint64 ms = clock.elapsed();
    if (!busy && ms < feedbackDelayMs_) return;
    if (!busy) {
      busy = true;
      window_->setCursor(Qt::WaitCursor);
      if (!progress_) {
        progress_ = new QProgressBar(window_);
        progress_->setObjectName("SaveProgress");
        progress_->setRange(0, 1000);
        progress_->setMaximumWidth(240);
        status->addPermanentWidget(progress_);
      }
      status->showMessage(tr("Saving %1…").arg(path));
      progress_->show();
    }
    progress_->setValue(total ? static_cast<int>(done * 1000 / total) : 1000);
    if (pumped < 0 || ms - pumped >= 50) {
      pumped = ms;
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
  };
  // The status line stays: it holds the application's note and later messages.
  struct Done {
    WorkbookSaver* s;
    bool& busy;
    ~Done() {
      s->saving_ = false;
      if (!busy) return;
      s->window_->unsetCursor();
      s->progress_->hide();
      s->window_->statusBar()->clearMessage();
    }
  } done{this, busy};
  saving_ = true;
  wb.SaveAs(path.toStdString(), progress);
}

bool WorkbookSaver::SaveTo(const QString& path) {
  try {
    Write(path);
  } catch (const Error& e) {
    prompts_->ShowError(QString::fromStdString(e.Description()));
    return false;
  }
  window_->statusBar()->showMessage(tr("Saved %1.").arg(path), 5000);
  return true;
}

bool WorkbookSaver::Save() {
  if (saving_) return false;
  if (!app_->WorkbookCount()) return true;
  const std::filesystem::path& file = app_->ActiveWorkbook().FullName();
  if (file.empty()) return SaveAs();
  return SaveTo(QString::fromStdString(file.string()));
}

bool WorkbookSaver::SaveAs() {
  if (saving_) return false;
  if (!app_->WorkbookCount()) return true;
  const xl::Workbook& wb = app_->ActiveWorkbook();
  QString name = QString::fromStdString(wb.Name());
  if (!name.endsWith(".xlsx", Qt::CaseInsensitive)) name += ".xlsx";
  QString path = prompts_->AskSavePath(name);
  if (path.isEmpty()) return false;
  if (!path.endsWith(".xlsx", Qt::CaseInsensitive)) path += ".xlsx";
  return SaveTo(path);
}

WindowPrompts::SaveAnswer WorkbookSaver::AskSaveChanges() {
  return prompts_->AskSaveChanges(QString::fromStdString(app_->ActiveWorkbook().Name()));
}

void WorkbookSaver::OpenInSpreadsheet() {
  if (!app_->WorkbookCount() || saving_) return;
  // The other application opens the workbook's own file, so that what the user does there
  // is kept with it: a workbook never saved is saved first, and one changed since its save
  // is saved again unless the user wants the file as it was saved.
  const xl::Workbook& wb = app_->ActiveWorkbook();
  if (wb.FullName().empty()) {
    if (!SaveAs()) return;
  } else if (!wb.Saved()) {
    switch (AskSaveChanges()) {
      case WindowPrompts::SaveAnswer::Cancel:
        return;
      case WindowPrompts::SaveAnswer::Save:
        if (!Save()) return;
        break;
      case WindowPrompts::SaveAnswer::Discard:
        break;
    }
  }
  const QString path = QString::fromStdString(app_->ActiveWorkbook().FullName().string());
  if (!opener_(path)) prompts_->ShowError(tr("No application could open %1.").arg(path));
}

}  // namespace palomet::xlwindow
