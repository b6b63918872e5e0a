#include "office/xlwindow/WorkbookWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "office/xl/Places.h"
#include "office/xlwindow/CellLine.h"
#include "office/xlwindow/FindBar.h"
#include "office/xlwindow/FreedMemory.h"
#include "office/xlwindow/GridCommands.h"
#include "office/xlwindow/QtMessageBoxes.h"
#include "office/xlwindow/SheetModel.h"
#include "office/xlwindow/SheetTabs.h"
#include "office/xlwindow/WorkbookSaver.h"
#include "office/xlwindow/WorkbookWindowImpl.h"

namespace palomet::xlwindow {

namespace {

// The real prompts: the file dialog, and message boxes as the main window shows them.
class QtPrompts : public WindowPrompts {
 public:
  SaveAnswer AskSaveChanges(const QString& workbookTitle) override {
    const MsgResult answer =
        boxes_.Show(QObject::tr("Do you want to save the changes to %1?")
                        .arg(workbookTitle)
                        .toStdString(),
                    MsgButtons::SaveDiscardCancel, MsgIcon::None, MsgResult::Save);
    return answer == MsgResult::Save      ? SaveAnswer::Save
           : answer == MsgResult::Discard ? SaveAnswer::Discard
                                          : SaveAnswer::Cancel;
  }
  QString AskSavePath(const QString& suggestedName) override {
    return QFileDialog::getSaveFileName(nullptr, QObject::tr("Save As"),
                                        QDir::home().filePath(suggestedName),
                                        QObject::tr("Excel Workbook (*.xlsx)"));
  }
  void ShowError(const QString& text) override {
    boxes_.Show(text.toStdString(), MsgButtons::Ok, MsgIcon::Warning);
  }

 private:
  QtMessageBoxes boxes_;
};

// The workbook windows in the order they were placed, for the next to cascade from.
std::vector<QPointer<WorkbookWindow>>& PlacedWindows() {
  static std::vector<QPointer<WorkbookWindow>> windows;
  return windows;
}

constexpr QSize kWantedSize(900, 600);

// What the window system draws around a shown window (nothing before it is shown).
QMargins FrameMargins(const QWidget& window) {
  const QRect inside = window.geometry();
  const QRect frame = window.frameGeometry();
  return QMargins(inside.left() - frame.left(), inside.top() - frame.top(),
                  frame.right() - inside.right(), frame.bottom() - inside.bottom());
}

}  // namespace

QRect NewWindowFrame(const QRect& screen, const QSize& wanted, const std::optional<QRect>& last,
                     int step) {
  QRect frame(QPoint(), wanted.boundedTo(screen.size()));
  if (last && last->intersects(screen)) {
    frame.moveTopLeft(last->topLeft() + QPoint(step, step));
    if (!screen.contains(frame)) frame.moveTopLeft(screen.topLeft());
  } else {
    frame.moveCenter(screen.center());
  }
  return frame;
}

std::shared_ptr<WindowPrompts> MakeWindowPrompts() {
  return std::make_shared<QtPrompts>();
}

WorkbookWindow::WorkbookWindow(std::shared_ptr<xl::Application> app,
                               std::shared_ptr<WindowPrompts> prompts, FileOpener opener,
                               QWidget* anchor)
    : app_(std::move(app)), anchor_(anchor) {
  setObjectName("WorkbookWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  resize(kWantedSize);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 2, 0, 0);
  column->setSpacing(2);
  setCentralWidget(central);

  cellLine_ = new CellLine(central);
  column->addWidget(cellLine_);
  tabs_ = new SheetTabs(*app_, central);
  column->addWidget(tabs_, 1);
  findBar_ = new FindBar(
      [this]() -> const xl::Workbook* {
        return app_->WorkbookCount() ? &app_->ActiveWorkbook() : nullptr;
      },
      [this](bool& hasCell) {
        const QModelIndex current = tabs_->Grid()->currentIndex();
        hasCell = tabs_->ShownSheet() && current.isValid();
        return hasCell ? CellSearch::Where{tabs_->ShownSheet(), current.row() + 1,
                                           current.column() + 1}
                       : CellSearch::Where{tabs_->CurrentTabSheet(), 1, 1};
      },
      central);
  column->addWidget(findBar_);

  const auto say = [this](const QString& text, int ms) { statusBar()->showMessage(text, ms); };
  commands_ = new GridCommands(tabs_->Grid(), this, say);
  saver_ = new WorkbookSaver(app_, std::move(prompts), std::move(opener), this);

  connect(tabs_, &SheetTabs::CurrentCellChanged, this, [this] { ShowCell(); });
  connect(tabs_, &SheetTabs::CellsChanged, this, [this] { ShowCell(); });
  connect(cellLine_, &CellLine::GoToTyped, this,
          [this](const QString& typed) { GoToPlace(typed, true); });
  connect(cellLine_, &CellLine::AddressDone, this, [this] { tabs_->Grid()->setFocus(); });
  connect(findBar_, &FindBar::Found, this,
          [this](std::uint64_t sheet, std::int64_t row, std::int64_t col) {
            if (tabs_->GoTo(sheet, static_cast<int>(row - 1), static_cast<int>(col - 1)))
              PlaceReached();
          });
  connect(findBar_, &FindBar::Closed, this, [this] { tabs_->Grid()->setFocus(); });
  connect(commands_, &GridCommands::LinkClicked, this,
          [this](const QString& location) { GoToPlace(location, false); });

  MakeMenus();

  // The application's own text holds the status line's right end: the window's passing
  // messages (copy, menu hints) show beside it and never wipe it.
  note_ = new QLabel(this);
  note_->setObjectName("StatusNote");
  statusBar()->addPermanentWidget(note_);
  StatusBarChanged();

  StructureChanged();
}

QAction* WorkbookWindow::AddCommand(QMenu* menu, const QString& text, const char* name,
                                    const QList<QKeySequence>& keys,
                                    const std::function<void()>& run) {
  auto* action = new QAction(text, this);
  action->setObjectName(name);
  action->setShortcuts(keys);
  connect(action, &QAction::triggered, this, run);
  menu->addAction(action);
  // The shortcut works wherever the focus is in the window, with the menu bar shown or not.
  addAction(action);
  return action;
}

void WorkbookWindow::MakeMenus() {
  const auto keys = [](QKeySequence::StandardKey key) { return QKeySequence::keyBindings(key); };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* save = AddCommand(file, tr("&Save"), "Save", {QKeySequence(Qt::CTRL | Qt::Key_S)},
                             [this] { Save(); });
  QAction* saveAs = AddCommand(file, tr("Save &As…"), "SaveAs",
                               {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
                               [this] { SaveAs(); });
  QAction* open = AddCommand(file, tr("&Open in spreadsheet application"), "OpenInSpreadsheet",
                             {}, [this] { saver_->OpenInSpreadsheet(); });
  file->addSeparator();
  AddCommand(file, tr("&Close"), "Close", keys(QKeySequence::Close), [this] { close(); });

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  QAction* copy = AddCommand(edit, tr("&Copy"), "Copy", keys(QKeySequence::Copy),
                             [this] { commands_->Copy(); });
  QAction* selectAll = AddCommand(edit, tr("Select &All"), "SelectAll",
                                  keys(QKeySequence::SelectAll), [this] { commands_->SelectAll(); });
  edit->addSeparator();
  AddCommand(edit, tr("&Find…"), "Find", keys(QKeySequence::Find), [this] { findBar_->Open(); });
  AddCommand(edit, tr("Find &Next"), "FindNext", keys(QKeySequence::FindNext),
             [this] { findBar_->FindNext(); });
  AddCommand(edit, tr("&Go To…"), "GoTo", {QKeySequence(Qt::Key_F5)},
             [this] { cellLine_->EditAddress(); });

  QMenu* sheet = menuBar()->addMenu(tr("&Sheet"));
  AddCommand(sheet, tr("&Next Sheet"), "NextSheet", {QKeySequence(Qt::CTRL | Qt::Key_PageDown)},
             [this] { tabs_->StepSheet(1); });
  AddCommand(sheet, tr("&Previous Sheet"), "PreviousSheet",
             {QKeySequence(Qt::CTRL | Qt::Key_PageUp)}, [this] { tabs_->StepSheet(-1); });
  AddCommand(sheet, tr("&All Sheets…"), "ListSheets", {}, [this] { tabs_->ListSheets(); });

  QTableView* grid = tabs_->Grid();
  grid->setContextMenuPolicy(Qt::ActionsContextMenu);
  grid->addActions({copy, selectAll});

  QToolBar* bar = addToolBar(tr("Workbook"));
  bar->setObjectName("WorkbookToolBar");
  bar->setMovable(false);
  bar->addAction(save);
  bar->addAction(saveAs);
  bar->addAction(open);
}

WorkbookWindow::~WorkbookWindow() {
  if (app_ && app_->View() == this) app_->ViewClosed();
  ReturnFreedMemoryLater();
}

void WorkbookWindow::Place() {
  placed_ = true;
  QWidget* anchor = anchor_ ? anchor_.data() : QApplication::activeWindow();
  if (anchor == this) anchor = nullptr;
  const QScreen* screen = anchor ? anchor->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  auto& placed = PlacedWindows();
  placed.erase(std::remove(placed.begin(), placed.end(), nullptr), placed.end());
  const WorkbookWindow* last = nullptr;
  for (auto it = placed.rbegin(); it != placed.rend() && !last; ++it) {
    if ((*it)->isVisible() && (*it)->screen() == screen) last = *it;
  }
  placed.push_back(this);
  // This window gets the frame the window system gave the last one, or the main window.
  const QWidget* framed = last ? last : anchor && anchor->isVisible() ? anchor : nullptr;
  const QMargins frame = framed ? FrameMargins(*framed) : QMargins();
  const QRect at = NewWindowFrame(screen->availableGeometry(), kWantedSize.grownBy(frame),
                                  last ? std::optional<QRect>(last->frameGeometry()) : std::nullopt,
                                  std::max(frame.top(), 24));
  resize(at.size().shrunkBy(frame));
  move(at.topLeft());  // a window's position is its frame's
}

void WorkbookWindow::KeepOnScreen() {
  const QScreen* holder = screen();
  if (!holder) return;
  const QRect area = holder->availableGeometry();
  const QRect frame = frameGeometry();
  if (area.contains(frame)) return;
  // As little moved as will do.
  QRect at(frame.topLeft(), frame.size().boundedTo(area.size()));
  at.moveLeft(std::clamp(at.left(), area.left(), area.right() + 1 - at.width()));
  at.moveTop(std::clamp(at.top(), area.top(), area.bottom() + 1 - at.height()));
  resize(at.size().shrunkBy(FrameMargins(*this)));
  move(at.topLeft());
}

bool WorkbookWindow::eventFilter(QObject* watched, QEvent* event) {
  QWindow* window = windowHandle();
  if (window && watched == window) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Move || type == QEvent::Resize || type == QEvent::Expose) &&
        (!window->frameMargins().isNull() || window->isExposed())) {
      window->removeEventFilter(this);
      KeepOnScreen();
    }
    return false;
  }
  return QMainWindow::eventFilter(watched, event);
}

void WorkbookWindow::Show() {
  if (!placed_) {
    Place();
    create();
    if (windowHandle()) windowHandle()->installEventFilter(this);
  }
  show();
  raise();
  app_->ViewOpened();
}

void WorkbookWindow::Hide() {
  hide();
}

void WorkbookWindow::StatusBarChanged() {
  note_->setText(QString::fromStdString(app_->StatusBar()));
}

void WorkbookWindow::StructureChanged() {
  tabs_->StructureChanged();
  UpdateTitle();
}

void WorkbookWindow::ShowCell() {
  const SheetModel* model = tabs_->Shown();
  const QModelIndex current = tabs_->Grid()->currentIndex();
  if (model && current.isValid()) {
    cellLine_->Show(&model->Sheet(), current.row(), current.column());
  } else {
    cellLine_->Show(nullptr, 0, 0);
  }
}

void WorkbookWindow::GoToPlace(const QString& reference, bool typed) {
  if (!app_->WorkbookCount()) return;
  const auto say = [this](const QString& text) {
    placeNote_ = text;
    statusBar()->showMessage(text, 10'000);
  };
  const std::optional<xl::PlaceRange> range = xl::ParseRange(reference.toStdString());
  if (!range) {
    say(typed ? tr("\"%1\" is not a cell address or range; type one such as B7, C3:E5 or "
                   "Customer!C10.")
                    .arg(reference.trimmed())
              : tr("The link leads to \"%1\", which is not a cell.").arg(reference));
    return;
  }
  const xl::Place* place = &range->first;
  std::uint64_t sheet = tabs_->ShownSheet() ? tabs_->ShownSheet() : tabs_->CurrentTabSheet();
  if (place->hasSheet) {
    const xl::Worksheet* named = app_->ActiveWorkbook().FindSheet(place->sheet);
    if (!named) {
      say(tr("There is no sheet \"%1\" in this workbook.").arg(QString::fromStdString(place->sheet)));
      return;
    }
    sheet = named->Id();
  }
  if (tabs_->GoTo(sheet, static_cast<int>(place->row - 1), static_cast<int>(place->col - 1),
                  static_cast<int>(range->lastRow - 1), static_cast<int>(range->lastCol - 1))) {
    tabs_->Grid()->setFocus(Qt::OtherFocusReason);
    PlaceReached();
  }
}

void WorkbookWindow::PlaceReached() {
  if (!placeNote_.isEmpty() && statusBar()->currentMessage() == placeNote_) {
    statusBar()->clearMessage();
  }
  placeNote_.clear();
}

void WorkbookWindow::UpdateTitle() {
  const QString book =
      app_->WorkbookCount() ? QString::fromStdString(app_->ActiveWorkbook().Name()) : QString();
  setWindowTitle(book.isEmpty() ? QString(kAppTitle) : book + " - " + kAppTitle);
}

bool WorkbookWindow::Save() {
  return saver_->Save();
}

bool WorkbookWindow::SaveAs() {
  return saver_->SaveAs();
}

void WorkbookWindow::SetSaveFeedbackDelay(int ms) {
  saver_->SetFeedbackDelay(ms);
}

void WorkbookWindow::closeEvent(QCloseEvent* event) {
  if (saver_->Saving()) {  // asked while the file is written: the save goes on, the window stays
    event->ignore();
    return;
  }
  // Closing always asks about unsaved work, whatever DisplayAlerts says.
  if (app_->WorkbookCount() && !app_->ActiveWorkbook().Saved()) {
    switch (saver_->AskSaveChanges()) {
      case WindowPrompts::SaveAnswer::Cancel:
        event->ignore();
        return;
      case WindowPrompts::SaveAnswer::Save:
        if (!saver_->Save()) {
          event->ignore();
          return;
        }
        break;
      case WindowPrompts::SaveAnswer::Discard:
        break;
    }
  }
  app_->ViewClosed();
  event->accept();
}

void InstallWorkbookWindows(std::shared_ptr<WindowPrompts> prompts, FileOpener opener,
                            QWidget* mainWindow) {
  if (!prompts) prompts = MakeWindowPrompts();
  if (!opener) {
    opener = [](const QString& path) {
      return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
  }
  xl::Application::SetViewFactory(
      [prompts, opener, anchor = QPointer<QWidget>(mainWindow)](
          std::shared_ptr<xl::Application> app) -> xl::ApplicationView* {
        return new WorkbookWindow(std::move(app), prompts, opener, anchor);
      });
}

}  // namespace palomet::xlwindow
