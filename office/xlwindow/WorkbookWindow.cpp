#include "office/xlwindow/WorkbookWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUrl>
#include <set>

#include "office/MessageBoxes.h"
#include "office/xlwindow/SheetModel.h"
#include "office/xlwindow/WorkbookWindowImpl.h"

namespace palomet::xlwindow {

namespace {

class QtPrompts : public WindowPrompts {
 public:
  SaveAnswer AskSaveChanges(const QString& workbookTitle) override {
    const auto answer = QMessageBox::question(
        nullptr, kAppTitle,
        QObject::tr("Do you want to save the changes to %1?").arg(workbookTitle),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    return answer == QMessageBox::Save      ? SaveAnswer::Save
           : answer == QMessageBox::Discard ? SaveAnswer::Discard
                                            : SaveAnswer::Cancel;
  }
  QString AskSavePath(const QString& suggestedName) override {
    return QFileDialog::getSaveFileName(nullptr, QObject::tr("Save As"),
                                        QDir::home().filePath(suggestedName),
                                        QObject::tr("Excel Workbook (*.xlsx)"));
  }
  void ShowError(const QString& text) override { QMessageBox::warning(nullptr, kAppTitle, text); }
};

}  // namespace

WorkbookWindow::WorkbookWindow(std::shared_ptr<xl::Application> app,
                               std::shared_ptr<WindowPrompts> prompts, FileOpener opener)
    : app_(std::move(app)), prompts_(std::move(prompts)), opener_(std::move(opener)) {
  setObjectName("WorkbookWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  resize(900, 600);

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("Sheets");
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  setCentralWidget(tabs_);

  auto* saveAs = new QAction(tr("Save As…"), this);
  saveAs->setObjectName("SaveAs");
  saveAs->setShortcut(QKeySequence::SaveAs);
  connect(saveAs, &QAction::triggered, this, [this] { SaveAs(); });
  auto* open = new QAction(tr("Open in spreadsheet application"), this);
  open->setObjectName("OpenInSpreadsheet");
  connect(open, &QAction::triggered, this, [this] { OpenInSpreadsheet(); });
  auto* close = new QAction(tr("Close"), this);
  close->setShortcut(QKeySequence::Close);
  connect(close, &QAction::triggered, this, &QWidget::close);

  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(saveAs);
  file->addAction(open);
  file->addSeparator();
  file->addAction(close);
  QToolBar* bar = addToolBar(tr("Workbook"));
  bar->setObjectName("WorkbookToolBar");
  bar->setMovable(false);
  bar->addAction(saveAs);
  bar->addAction(open);

  // New cells show within a fraction of a second; a run yields often enough for this to fire.
  refresh_.setInterval(200);
  connect(&refresh_, &QTimer::timeout, this, [this] { RefreshGrids(); });
  refresh_.start();

  StructureChanged();
}

WorkbookWindow::~WorkbookWindow() {
  if (app_ && app_->View() == this) app_->ViewClosed();
}

void WorkbookWindow::Show() {
  show();
  raise();
  app_->ViewOpened();
}

void WorkbookWindow::Hide() {
  hide();
}

void WorkbookWindow::StructureChanged() {
  SyncTabs();
  UpdateTitle();
}

void WorkbookWindow::SyncTabs() {
  const xl::Workbook* wb = app_->WorkbookCount() ? &app_->ActiveWorkbook() : nullptr;
  if (wb != shown_) {
    // Another workbook: start afresh.
    while (tabs_->count()) {
      QWidget* w = tabs_->widget(0);
      tabs_->removeTab(0);
      delete w;
    }
    views_.clear();
    shown_ = wb;
  }
  if (!wb) return;

  // Sheets that are gone lose their tab before anything reads them again.
  std::set<std::uint64_t> live;
  for (long i = 1; i <= wb->SheetCount(); ++i) live.insert(wb->Sheet(i).Id());
  for (auto it = views_.begin(); it != views_.end();) {
    if (live.count(it->first)) {
      ++it;
      continue;
    }
    tabs_->removeTab(tabs_->indexOf(it->second));
    delete it->second;
    it = views_.erase(it);
  }
  // Then every sheet in its place, with its name.
  for (long i = 1; i <= wb->SheetCount(); ++i) {
    const xl::Worksheet& sheet = wb->Sheet(i);
    const int pos = static_cast<int>(i - 1);
    const QString name = QString::fromStdString(sheet.Name());
    QTableView*& view = views_[sheet.Id()];
    if (!view) {
      view = new QTableView;
      view->setModel(new SheetModel(sheet, view));
      view->setEditTriggers(QAbstractItemView::NoEditTriggers);
      view->verticalHeader()->setDefaultSectionSize(22);
      view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
      tabs_->insertTab(pos, view, name);
    } else if (tabs_->indexOf(view) != pos) {
      tabs_->tabBar()->moveTab(tabs_->indexOf(view), pos);
    }
    if (tabs_->tabText(pos) != name) tabs_->setTabText(pos, name);
  }
  if (QTableView* active = views_[wb->ActiveSheet().Id()]) tabs_->setCurrentWidget(active);
}

void WorkbookWindow::RefreshGrids() {
  for (auto& [id, view] : views_) static_cast<SheetModel*>(view->model())->Refresh();
}

void WorkbookWindow::UpdateTitle() {
  const QString book =
      app_->WorkbookCount() ? QString::fromStdString(app_->ActiveWorkbook().Name()) : QString();
  setWindowTitle(book.isEmpty() ? QString(kAppTitle) : book + " - " + kAppTitle);
}

bool WorkbookWindow::SaveAs() {
  if (!app_->WorkbookCount()) return true;
  xl::Workbook& wb = app_->ActiveWorkbook();
  QString path = prompts_->AskSavePath(QString::fromStdString(wb.Name()) + ".xlsx");
  if (path.isEmpty()) return false;
  if (!path.endsWith(".xlsx", Qt::CaseInsensitive)) path += ".xlsx";
  try {
    wb.SaveAs(path.toStdString());
  } catch (const Error& e) {
    prompts_->ShowError(QString::fromStdString(e.Description()));
    return false;
  }
  return true;
}

void WorkbookWindow::OpenInSpreadsheet() {
  if (!app_->WorkbookCount()) return;
  const xl::Workbook& wb = app_->ActiveWorkbook();
  // The copy has to outlive this window: the spreadsheet application opens it later.
  QTemporaryDir dir(QDir::temp().filePath("palomet-XXXXXX"));
  dir.setAutoRemove(false);
  if (!dir.isValid()) {
    prompts_->ShowError(tr("Cannot create a temporary folder for the copy."));
    return;
  }
  QString name = QString::fromStdString(wb.Name());
  if (!name.endsWith(".xlsx", Qt::CaseInsensitive)) name += ".xlsx";
  const QString path = dir.filePath(name);
  try {
    wb.SaveCopyAs(path.toStdString());
  } catch (const Error& e) {
    prompts_->ShowError(QString::fromStdString(e.Description()));
    return;
  }
  if (!opener_(path)) prompts_->ShowError(tr("No application could open %1.").arg(path));
}

void WorkbookWindow::closeEvent(QCloseEvent* event) {
  // Closing always asks about unsaved work, whatever DisplayAlerts says.
  if (app_->WorkbookCount() && !app_->ActiveWorkbook().Saved()) {
    switch (prompts_->AskSaveChanges(QString::fromStdString(app_->ActiveWorkbook().Name()))) {
      case WindowPrompts::SaveAnswer::Cancel:
        event->ignore();
        return;
      case WindowPrompts::SaveAnswer::Save:
        if (!SaveAs()) {
          event->ignore();
          return;
        }
        break;
      case WindowPrompts::SaveAnswer::Discard:
        break;
    }
  }
  refresh_.stop();
  app_->ViewClosed();
  event->accept();
}

void InstallWorkbookWindows(std::shared_ptr<WindowPrompts> prompts, FileOpener opener) {
  if (!prompts) prompts = std::make_shared<QtPrompts>();
  if (!opener) {
    opener = [](const QString& path) {
      return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
  }
  xl::Application::SetViewFactory(
      [prompts, opener](std::shared_ptr<xl::Application> app) -> xl::ApplicationView* {
        return new WorkbookWindow(std::move(app), prompts, opener);
      });
}

}  // namespace palomet::xlwindow
