#include "app/Form1.h"

#include <exception>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QUrl>
#include <QWindow>

#include "app/Controls.h"
#include "app/Form1ImportWindow.h"
#include "app/ListView.h"
#include "app/Main.h"
#include "filelist/AddFolder.h"
#include "filelist/DialogIntake.h"
#include "filelist/DropIntake.h"
#include "filelist/ListCommands.h"
#include "importrun/ImportRun.h"

namespace palomet {

namespace {

constexpr const char* kCaption = "Palomet";
constexpr const char* kColumnTitle = "XML File(s)";
constexpr int kColumnWidthTwips = 5300;
constexpr const char* kCombineCaption = "Combine tables of the same name from all files";
// The frame's row that holds it: the frame and everything below grow or move by as much.
constexpr int kCombineRow = 360;
constexpr const char* kDragPointerFile = "drag.ico";
constexpr const char* kListTip =
    "Drag and drop files here. Double-click item to remove it. Move bar to right and out of "
    "window to reveal full names.";

QFont ArialBold(double points) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

// Paints the widget's own background (the button role, for option buttons).
void SetBackground(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  palette.setColor(widget->backgroundRole(), colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
}

// The local files a drag carries, in the order the source gave them.
std::vector<std::string> LocalFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

// The drop takes only the files' paths: it accepts as a copy (or a link), never as a
// move, which would let the source delete the files it dropped.
bool AcceptFileDrop(QDropEvent* event) {
  if (LocalFiles(event->mimeData()).empty()) return false;
  for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
    if (event->possibleActions() & action) {
      event->setDropAction(action);
      event->accept();
      return true;
    }
  }
  return false;
}

}  // namespace

std::string HelpText() {
  return "Make sure XML files can be opened in Internet Explorer. Internet Explorer validates "
         "XML files and will inform you if there are invalid character(s).\r\r"
         "An exaple of an invalid character is &\r\r"
         "You must have MS Excel and Access 2002 (XP) or higher installed to use this "
         "software.\r\r"
         "This software imports XML files into Excel but MS Access is opened when you click the "
         "'Start' button to help with the import process.";
}

Form1::Form1(Form1Deps deps, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      messages_(&deps.messages),
      dialogs_(&deps.dialogs),
      randomDraw_(std::move(deps.randomDraw)),
      openUrl_(std::move(deps.openUrl)),
      homePage_(std::move(deps.homePage)),
      settings_(std::move(deps.settingsFolder)),
      programFolder_(std::move(deps.programFolder)) {
  setObjectName(QStringLiteral("Form1"));
  BuildControls();
  StartUp();
  importWindow_ = std::make_unique<Form1ImportWindow>(*this);
  importRun_ = deps.stagingDatabase
                   ? std::make_unique<ImportRun>(*importWindow_, std::move(deps.stagingDatabase))
                   : std::make_unique<ImportRun>(*importWindow_, programFolder_);
}

Form1::~Form1() = default;

void Form1::BuildControls() {
  // One row taller than the design, for the option of combining tables in the frame; the
  // controls below the frame move down by as much.
  setFixedSize(Twips(6960), Twips(5940 + kCombineRow));
  setWindowIcon(QIcon(QStringLiteral(":/icons/palomet.png")));
  setMouseTracking(true);
  SetBackground(this, Qt::white);

  listView1_ = new ListView(this);
  listView1_->setObjectName(QStringLiteral("ListView1"));
  listView1_->setToolTip(QString::fromUtf8(kListTip));
  listView1_->setFont(ArialBold(9));
  Place(listView1_, 120, 120, 5760, 2295);
  // Files dropped from outside come in through the viewport's filter; entries are
  // dragged within the list by hand, never as a drag-and-drop transfer of their own.
  listView1_->setAcceptDrops(true);
  listView1_->viewport()->setAcceptDrops(true);
  listView1_->viewport()->installEventFilter(this);
  drag_ = std::make_unique<DragReorder>(*listView1_, *this);

  const auto makeButton = [this](IconButton*& button, const char* name, const char* caption,
                                 const char* icon, int left, int top, int width, int height) {
    button = new IconButton(QString::fromUtf8(caption), this);
    button->setObjectName(QString::fromUtf8(name));
    button->setFont(ArialBold(11.25));
    if (icon) {
      button->setIcon(QIcon(QStringLiteral(":/icons/") + QString::fromUtf8(icon)));
      button->setIconSize(QSize(32, 32));
    }
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::ButtonText, QApplication::palette().color(QPalette::ButtonText));
    button->setPalette(palette);
    Place(button, left, top, width, height);
    connect(button, &IconButton::MouseMoved, this, &Form1::HoverRule);
  };
  makeButton(pushButton5_, "PushButton5", "Move Up", "move-up.png", 6000, 120, 840, 1095);
  makeButton(pushButton6_, "PushButton6", "Move Down", "move-down.png", 6000, 1320, 840, 1095);
  makeButton(pushButton1_, "PushButton1", "Add XML File(s)", "add-files.png", 120, 2520, 2175,
             1455);
  makeButton(pushButton2_, "PushButton2", "Add All XML File(s) In Folder", "add-folder.png", 2400,
             2520, 2175, 1455);
  makeButton(pushButton4_, "PushButton4", "Start Importing", "start-importing.png", 4680, 2520,
             2160, 1455);
  makeButton(pushButton3_, "PushButton3", "Help", nullptr, 120, 4890 + kCombineRow, 6720, 405);

  frame1_ = new FrameBox(QStringLiteral("Options"), this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  frame1_->setFont(ArialBold(9));
  SetBackground(frame1_, Qt::white);
  Place(frame1_, 120, 4035, 6735, 735 + kCombineRow);

  option1_ = new QRadioButton(QStringLiteral("Send XML file(s) to one sheet"), frame1_);
  option1_->setObjectName(QStringLiteral("Option1"));
  option1_->setFont(ArialBold(9));
  SetBackground(option1_, Qt::white);
  Place(option1_, 240, 300, 2775, 255);
  option1_->setChecked(true);

  option2_ = new QRadioButton(QStringLiteral("Send XML file(s) to multiple sheets"), frame1_);
  option2_->setObjectName(QStringLiteral("Option2"));
  option2_->setFont(ArialBold(9));
  SetBackground(option2_, Qt::white);
  Place(option2_, 3120, 300, 3375, 255);
  auto* optionStyle = new OptionButtonStyle();
  optionStyle->setParent(this);
  option1_->setStyle(optionStyle);
  option2_->setStyle(optionStyle);

  check1_ = new QCheckBox(QString::fromUtf8(kCombineCaption), frame1_);
  check1_->setObjectName(QStringLiteral("Check1"));
  check1_->setFont(ArialBold(9));
  SetBackground(check1_, Qt::white);
  Place(check1_, 240, 300 + kCombineRow, 6375, 255);

  progressBar1_ = new QProgressBar(this);
  progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar1_->setFont(ArialBold(9));
  progressBar1_->setRange(0, 100);
  progressBar1_->setValue(0);
  progressBar1_->setFormat(QStringLiteral("Progress Bar"));
  progressBar1_->setTextVisible(true);
  progressBar1_->setAlignment(Qt::AlignCenter);
  Place(progressBar1_, 120, 5400 + kCombineRow, 6720, 405);

  // Tab order of the design: list, folder, files, import, help, (bar and frame,
  // which take no focus), multiple sheets, one sheet, then combining, up, down.
  QWidget* const order[] = {listView1_, pushButton2_, pushButton1_, pushButton4_, pushButton3_,
                            option2_,   option1_,     check1_,      pushButton5_, pushButton6_};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    setTabOrder(order[i], order[i + 1]);
  }

  const auto wire = [this](auto* sender, auto signal, void (Form1::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { Guard([this, handler] { (this->*handler)(); }); });
  };
  wire(pushButton1_, &QPushButton::clicked, &Form1::OnAddFiles);
  wire(pushButton2_, &QPushButton::clicked, &Form1::OnAddFolder);
  wire(pushButton3_, &QPushButton::clicked, &Form1::OnHelp);
  wire(pushButton4_, &QPushButton::clicked, &Form1::OnStartImporting);
  wire(pushButton5_, &QPushButton::clicked, &Form1::OnMoveUp);
  wire(pushButton6_, &QPushButton::clicked, &Form1::OnMoveDown);
  wire(listView1_, &ListView::DoubleClicked, &Form1::OnRemove);
  wire(listView1_, &ListView::DeletePressed, &Form1::OnDeleteKey);
  wire(option1_, &QRadioButton::clicked, &Form1::OnOption1Click);
  wire(option2_, &QRadioButton::clicked, &Form1::OnOption2Click);
  wire(check1_, &QCheckBox::clicked, &Form1::OnCheck1Click);
  connect(listView1_, &ListView::MouseMoved, this, &Form1::RestRule);
  // Qt reports a click on release; the press of an entry, once the list has selected
  // it, is what makes it the dragged entry.
  connect(listView1_, &QTreeWidget::itemPressed, this,
          [this] { Guard([this] { drag_->OnEntryPress(); }); });
}

void Form1::StartUp() {
  ApplySkin();
  CenterForm();
  pointerImage_ = LoadPointerImage(ProgramFile(programFolder_, kPointerImageFile));
  MaybeOpenHomePage(homePage_, randomDraw_, openUrl_);
  setWindowTitle(QString::fromUtf8(kCaption));
  if (IsMultipleSheetsOption(settings_.GetSetting(kOptionKey, kOneSheet))) {
    option2_->setChecked(true);
    OnOption2Click();  // selecting it works as a click does, storing the choice again
  }
  check1_->setChecked(settings_.GetSetting(kCombineKey, kCombineOff) == kCombineOn);
  listView1_->setHeaderLabels({QString::fromUtf8(kColumnTitle)});
  listView1_->setColumnWidth(0, Twips(kColumnWidthTwips));
}

void Form1::ApplySkin() {
  const std::optional<std::string> skin = ReadSkin(ProgramFile(programFolder_, kSkinFile));
  if (!skin) return;
  const QColor face = QApplication::palette().color(QPalette::Button);
  SetBackground(this, face);
  SetBackground(frame1_, face);
  SetBackground(option1_, face);
  SetBackground(option2_, face);
  SetBackground(check1_, face);
  setStyleSheet(QString::fromUtf8(*skin));
}

// Centres the window's frame on the available area of the screen that holds the window.
// Until the window system has framed the window, its frame is the window itself; showEvent
// has it centred again once the frame is known.
void Form1::CenterForm() {
  if (!ProgramsPlaceWindows(QGuiApplication::platformName())) return;
  const QScreen* holder = screen();
  if (!holder) return;
  move(CenteredPosition(holder->availableGeometry(), frameGeometry().size()));
}

void Form1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window system reports the frame once it has taken the window on, which is before
  // the window is first drawn; the window's own events say when.
  if (!framePlaced_ && windowHandle()) windowHandle()->installEventFilter(this);
}

void Form1::DoEvents() {
  QCoreApplication::processEvents();
}

void Form1::SetMousePointer(Pointer value) {
  mousePointer_ = value;
  if (value == Pointer::Busy) {
    setCursor(Qt::WaitCursor);
  } else if (value == Pointer::Image && pointerImage_) {
    setCursor(*pointerImage_);
  } else {
    unsetCursor();
  }
}

FileList& Form1::List() {
  return *listView1_;
}

bool Form1::Option2Value() const {
  return option2_->isChecked();
}

bool Form1::Check1Value() const {
  return check1_->isChecked();
}

void Form1::OnAddFiles() {
  AddDialogSelection(*listView1_, dialogs_->GetOpenFileNames(kAddFilesTitle, AddFilesFilter()));
}

void Form1::OnAddFolder() {
  AddChosenFolder(dialogs_->BrowseFolder(kAddFolderPrompt), *listView1_, *this);
}

void Form1::OnHelp() {
  messages_->Show(HelpText(), MsgButtons::Ok, MsgIcon::None);
}

void Form1::OnStartImporting() {
  importRun_->Start();
}

void Form1::OnMoveUp() {
  MoveUp(*listView1_);
  listView1_->setFocus();
}

void Form1::OnMoveDown() {
  MoveDown(*listView1_);
  listView1_->setFocus();
}

void Form1::OnRemove() {
  RemoveSelected(*listView1_);
}

void Form1::OnDeleteKey() {
  RemoveSelectedAndSelectNext(*listView1_);
}

// A store that refuses the write changes nothing visible: the buttons keep the
// choice, and the next start restores what the store still holds.
void Form1::OnOption1Click() {
  settings_.SaveSetting(kOptionKey, kOneSheet);
}

void Form1::OnOption2Click() {
  settings_.SaveSetting(kOptionKey, kMultipleSheets);
}

void Form1::OnCheck1Click() {
  settings_.SaveSetting(kCombineKey, check1_->isChecked() ? kCombineOn : kCombineOff);
}

void Form1::HoverRule() {
  if (mousePointer_ != Pointer::Busy) SetMousePointer(Pointer::Image);
}

void Form1::RestRule() {
  if (mousePointer_ != Pointer::Busy) SetMousePointer(Pointer::Default);
}

void Form1::OnListDragOver(QDragMoveEvent* event) {
  if (!AcceptFileDrop(event)) event->ignore();  // the no-drop pointer
}

void Form1::OnListDrop(QDropEvent* event) {
  if (!AcceptFileDrop(event)) {
    event->ignore();
    return;
  }
  const std::vector<std::string> paths = LocalFiles(event->mimeData());
  Guard([&] { AddDroppedPaths(paths, *listView1_, *this); });
}

void Form1::EnsureVisible(int position) {
  if (QTreeWidgetItem* item = listView1_->ItemAt(position)) listView1_->scrollToItem(item);
}

void Form1::SetListPointer(ListPointer value) {
  QWidget* viewport = listView1_->viewport();
  if (value == ListPointer::Image) {
    // Read afresh at every entry press; without a usable image the list keeps its pointer.
    if (auto image = LoadPointerImage(ProgramFile(programFolder_, kDragPointerFile))) {
      viewport->setCursor(*image);
    }
  } else {
    // The list shows the window's pointer again: the arrow, or the busy pointer of a
    // command under way.
    viewport->unsetCursor();
  }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (QWindow* window = windowHandle(); window != nullptr && watched == window) {
    const QEvent::Type type = event->type();
    if (!framePlaced_ &&
        (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Expose) &&
        (!window->frameMargins().isNull() || window->isExposed())) {
      framePlaced_ = true;
      window->removeEventFilter(this);
      CenterForm();
    }
    return false;
  }
  if (listView1_ == nullptr || watched != listView1_->viewport()) {
    return QWidget::eventFilter(watched, event);
  }
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      drag_->OnMouseDown();  // the entry press follows once the list has selected it
      return false;
    case QEvent::MouseMove: {
      const auto* move = static_cast<QMouseEvent*>(event);
      QTreeWidgetItem* item = listView1_->itemAt(move->position().toPoint());
      const int target = item ? listView1_->indexOfTopLevelItem(item) + 1 : 0;
      const int screenY = qRound(move->globalPosition().y());
      Guard([&] { drag_->OnMouseMove(*this, target, screenY); });
      // While dragging, the list's own press-and-move selection and autoscroll stay out.
      return drag_->Dragging();
    }
    case QEvent::MouseButtonRelease:
      drag_->OnMouseUp();
      return false;
    case QEvent::DragEnter:
    case QEvent::DragMove:
      OnListDragOver(static_cast<QDragMoveEvent*>(event));
      return true;
    case QEvent::DragLeave:
      return true;
    case QEvent::Drop:
      OnListDrop(static_cast<QDropEvent*>(event));
      return true;
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  closed_ = true;
  event->accept();
}

void Form1::mouseMoveEvent(QMouseEvent* event) {
  // Moves over child controls that pass them on reach here too; only the bare
  // window has the rest rule.
  if (!childAt(event->position().toPoint())) RestRule();
  QWidget::mouseMoveEvent(event);
}

void Form1::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    messages_->Show(e.what(), MsgButtons::Ok, MsgIcon::Warning);
  } catch (...) {
    messages_->Show("An unexpected error occurred.", MsgButtons::Ok, MsgIcon::Warning);
  }
}

}  // namespace palomet
