#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QCursor>
#include <QWidget>

#include "app/Dialogs.h"
#include "app/Main.h"
#include "app/Settings.h"
#include "filelist/DragReorder.h"
#include "filelist/FileList.h"
#include "filelist/WindowHost.h"
#include "office/MessageBoxes.h"

class QCheckBox;
class QDragMoveEvent;
class QDropEvent;
class QGroupBox;
class QProgressBar;
class QRadioButton;
class QShowEvent;

namespace palomet {

class Form1ImportWindow;
class IconButton;
class ImportRun;
class ListView;

// What the main window needs from outside; tests pass fakes and temporary folders.
struct Form1Deps {
  MessageBoxes& messages;
  Dialogs& dialogs;
  // A uniform draw from [0, 1) for the start-up chance of opening the home page.
  std::function<double()> randomDraw;
  // Hands an address to the desktop; never waited for, outcome ignored.
  std::function<void(const std::string&)> openUrl;
  // Folder of the settings store; "" for the user's own store.
  std::string settingsFolder;
  // The program folder, where HAND-M.CUR, x/o.cjs and temp.mdb are looked for.
  std::string programFolder;
  // The staging database of the window's runs, asked at every run; when unset it is
  // temp.mdb in the program folder.
  std::function<std::string()> stagingDatabase = {};
  // The maker's home page for the start-up chance; empty for no visit.
  std::string homePage = ConfiguredHomePage();
};

// The main window. Constructing it builds the controls and runs the start-up
// sequence; the handlers are thin wiring over the layers below. It is the
// WindowHost of the long commands: DoEvents serves pending events, the pointer
// value is kept here and shown with setCursor, and Closed() turns true when the
// user closes the window, after which a command under way must stop at once.
// It is also the list's view for dragging entries: it scrolls the list and sets
// the list's own pointer.
class Form1 : public QWidget, public WindowHost, public DragListView {
  Q_OBJECT

 public:
  explicit Form1(Form1Deps deps, QWidget* parent = nullptr);
  ~Form1() override;

  void DoEvents() override;
  Pointer MousePointer() const override { return mousePointer_; }
  void SetMousePointer(Pointer value) override;
  bool Closed() const override { return closed_; }

  void EnsureVisible(int position) override;
  void SetListPointer(ListPointer value) override;

  FileList& List();
  ListView* ListView1() const { return listView1_; }
  QProgressBar* ProgressBar1() const { return progressBar1_; }
  // The sheet mode as the option buttons show it: true for multiple sheets.
  bool Option2Value() const;
  // Whether "Combine tables of the same name from all files" is ticked.
  bool Check1Value() const;
  MessageBoxes& Messages() const { return *messages_; }
  Dialogs& GetDialogs() const { return *dialogs_; }
  const std::string& ProgramFolder() const { return programFolder_; }
  // Whether start-up found a usable pointer image.
  bool HasPointerImage() const { return pointerImage_.has_value(); }
  // Whether an entry is being dragged, and the entry that holds the dragged path.
  bool Dragging() const { return drag_->Dragging(); }
  EntryId DragItem() const { return drag_->DragItem(); }

  // Command handlers, one per user event.
  void OnAddFiles();
  void OnAddFolder();
  void OnHelp();
  void OnStartImporting();
  void OnMoveUp();
  void OnMoveDown();
  void OnRemove();
  void OnDeleteKey();
  void OnOption1Click();
  void OnOption2Click();
  void OnCheck1Click();
  // The list's drag-and-drop events: file lists are accepted, anything else refused.
  void OnListDragOver(QDragMoveEvent* event);
  void OnListDrop(QDropEvent* event);

  // Pointer rules: over a push button the pointer image, over the bare window or
  // the list the default pointer; neither replaces the busy pointer.
  void HoverRule();
  void RestRule();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Watches the list's viewport: presses, moves and releases drive the dragging of
  // entries, drags from outside bring files.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void StartUp();
  void ApplySkin();
  void CenterForm();
  // Runs a handler so that nothing it throws escapes into the event loop.
  void Guard(const std::function<void()>& handler);

  MessageBoxes* messages_;
  Dialogs* dialogs_;
  std::function<double()> randomDraw_;
  std::function<void(const std::string&)> openUrl_;
  std::string homePage_;
  SettingsStore settings_;
  std::string programFolder_;

  Pointer mousePointer_ = Pointer::Default;
  bool closed_ = false;
  // Whether the window has been centred with its frame known.
  bool framePlaced_ = false;
  std::optional<QCursor> pointerImage_;

  ListView* listView1_ = nullptr;
  IconButton* pushButton1_ = nullptr;
  IconButton* pushButton2_ = nullptr;
  IconButton* pushButton3_ = nullptr;
  IconButton* pushButton4_ = nullptr;
  IconButton* pushButton5_ = nullptr;
  IconButton* pushButton6_ = nullptr;
  QGroupBox* frame1_ = nullptr;
  QRadioButton* option1_ = nullptr;
  QRadioButton* option2_ = nullptr;
  QCheckBox* check1_ = nullptr;
  QProgressBar* progressBar1_ = nullptr;
  std::unique_ptr<DragReorder> drag_;  // Dragging and DragItem

  // The "Start Importing" command over this window.
  std::unique_ptr<Form1ImportWindow> importWindow_;
  std::unique_ptr<ImportRun> importRun_;
};

// The help message: four paragraphs, each but the last followed by two carriage
// returns.
std::string HelpText();

}  // namespace palomet
