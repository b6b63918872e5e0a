#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QImageReader>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include "app/Controls.h"
#include "app/Main.h"
#include "tests/support/Form1Harness.h"

namespace palomet {
namespace {

using test::Form1Harness;

TEST(StartUp, LeavesAnEmptyListUnderOneTitledColumnAndTheCaption) {
  Form1Harness h;
  Form1& form = h.Start();
  EXPECT_EQ(form.windowTitle(), "Palomet");
  ListView& list = h.List();
  EXPECT_EQ(list.Count(), 0);
  ASSERT_EQ(list.columnCount(), 1);
  EXPECT_EQ(list.headerItem()->text(0), "XML File(s)");
  EXPECT_FALSE(list.isHeaderHidden());
  EXPECT_EQ(list.columnWidth(0), Twips(5300));
  EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list.editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_FALSE(list.isSortingEnabled());
  QProgressBar* bar = h.Find<QProgressBar>("ProgressBar1");
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->text(), "Progress Bar");
  EXPECT_TRUE(h.openedUrls.empty());
}

// The whole frame, decorations included, sits in the middle of the screen's available area.
TEST(StartUp, CentresTheWholeFrameOnTheAvailableArea) {
  Form1Harness h;
  Form1& form = h.Start();
  QCoreApplication::processEvents();
  const QRect frame = form.frameGeometry();
  const QRect area = form.screen()->availableGeometry();
  ASSERT_NE(frame, form.geometry()) << "the window system gave no frame";
  // QRect's right and bottom are inclusive: compare the doubled centres, exact to a pixel.
  const QPoint twiceOff = (frame.topLeft() * 2 + QPoint(frame.width(), frame.height())) -
                          (area.topLeft() * 2 + QPoint(area.width(), area.height()));
  EXPECT_LE(std::abs(twiceOff.x()), 1) << frame.x() << "," << frame.y();
  EXPECT_LE(std::abs(twiceOff.y()), 1) << frame.x() << "," << frame.y();
}

TEST(StartUp, LeavesPlacementToWindowSystemsThatDoNotLetProgramsPlaceWindows) {
  const std::pair<const char*, bool> cases[] = {
      {"xcb", true}, {"offscreen", true}, {"wayland", false}, {"wayland-egl", false}};
  for (const auto& [platform, places] : cases) {
    EXPECT_EQ(ProgramsPlaceWindows(QString::fromUtf8(platform)), places) << platform;
  }
}

struct StoredOptionCase {
  const char* name;
  const char* stored;  // nullptr: never written
  bool multiple;
};

void PrintTo(const StoredOptionCase& c, std::ostream* os) {
  *os << c.name;
}

class RestoredSheetMode : public testing::TestWithParam<StoredOptionCase> {};

TEST_P(RestoredSheetMode, SelectsOption2OnlyForTwo) {
  const StoredOptionCase& c = GetParam();
  Form1Harness h;
  if (c.stored) h.StoreSetting("Option", c.stored);
  Form1& form = h.Start();
  EXPECT_EQ(h.Find<QRadioButton>("Option2")->isChecked(), c.multiple);
  EXPECT_EQ(h.Find<QRadioButton>("Option1")->isChecked(), !c.multiple);
  EXPECT_EQ(form.Option2Value(), c.multiple);
  // Start-up only reads the store, except that restoring the multiple-sheets mode
  // stores it again as a click would.
  EXPECT_EQ(h.StoredSetting("Option"), c.multiple ? "2" : (c.stored ? c.stored : "<unset>"));
}

INSTANTIATE_TEST_SUITE_P(
    App, RestoredSheetMode,
    testing::Values(StoredOptionCase{"NeverWritten", nullptr, false},
                    StoredOptionCase{"One", "1", false}, StoredOptionCase{"Two", "2", true},
                    StoredOptionCase{"Zero", "0", false}, StoredOptionCase{"Three", "3", false},
                    StoredOptionCase{"Garbage", "two", false}, StoredOptionCase{"Empty", "", false},
                    StoredOptionCase{"TwoWithBlanks", " 2 ", true},
                    StoredOptionCase{"TwoAsDecimal", "2.0", true},
                    StoredOptionCase{"TwoFollowedByText", "2x", false}),
    [](const testing::TestParamInfo<StoredOptionCase>& info) { return info.param.name; });

TEST(StartUp, OpensTheHomePageOnlyOnASevenAndOnlyWhenThereIsOne) {
  const std::string page = "https://palomet.example/home";
  const struct {
    const char* homePage;
    double draw;
    bool opens;
  } cases[] = {
      {page.c_str(), 0.06, true},  {page.c_str(), 0.0699, true}, {page.c_str(), 0.0599, false},
      {page.c_str(), 0.07, false}, {page.c_str(), 0.0, false},   {page.c_str(), 0.999, false},
      {"", 0.06, false},           {"", 0.0699, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.homePage) + " " + std::to_string(c.draw));
    Form1Harness h;
    h.homePage = c.homePage;
    h.draw = c.draw;
    h.Start(false);
    EXPECT_EQ(h.openedUrls, c.opens ? std::vector<std::string>{page} : std::vector<std::string>{});
  }
}

// The address is the packager's to give; a build without one never opens a page.
TEST(StartUp, ABuildWithoutAHomePageOpensNoneWhateverTheDraw) {
  if (!ConfiguredHomePage().empty()) GTEST_SKIP() << "built with a home page";
  Form1Harness h;
  h.draw = 0.065;
  h.Start(false);
  EXPECT_TRUE(h.openedUrls.empty());
}

TEST(StartUp, AHomePageThatCannotBeOpenedIsPassedOver) {
  EXPECT_TRUE(MaybeOpenHomePage(
      "https://palomet.example/", [] { return 0.065; },
      [](const std::string&) { throw std::runtime_error("no browser"); }));
  EXPECT_FALSE(MaybeOpenHomePage(
      "https://palomet.example/", [] { return 1.0; }, [](const std::string&) { FAIL(); }));
}

TEST(StartUp, TakesThePointerImageOnlyWhenItIsAnImage) {
  {
    Form1Harness h;
    EXPECT_FALSE(h.Start(false).HasPointerImage());
  }
  {
    Form1Harness h;
    h.CopyShippedProgramFile("HAND-M.CUR");
    EXPECT_TRUE(h.Start(false).HasPointerImage());
  }
  {
    Form1Harness h;
    h.WriteProgramFile("HAND-M.CUR", "this is not an image");
    Form1& form = h.Start(false);
    EXPECT_FALSE(form.HasPointerImage());
    form.SetMousePointer(Pointer::Image);  // falls back to the default pointer
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
  }
}

TEST(StartUp, SkinsTheWindowOnlyWhenTheSkinFileExists) {
  const char* const painted[] = {"Frame1", "Option1", "Option2"};
  const auto background = [](QWidget* w) { return w->palette().color(w->backgroundRole()); };
  {
    Form1Harness h;
    h.WriteProgramFile("x/o.cjs/inside", "a folder named like the skin is no skin");
    Form1& form = h.Start(false);
    EXPECT_EQ(background(&form), QColor(Qt::white));
    for (const char* name : painted)
      EXPECT_EQ(background(h.Find<QWidget>(name)), QColor(Qt::white));
    EXPECT_TRUE(form.styleSheet().isEmpty());
  }
  {
    Form1Harness h;
    const char* sheet = "QPushButton { color: #123456; }";
    h.WriteProgramFile("x/o.cjs", sheet);
    Form1& form = h.Start(false);
    const QColor face = QApplication::palette().color(QPalette::Button);
    EXPECT_EQ(background(&form), face);
    for (const char* name : painted) EXPECT_EQ(background(h.Find<QWidget>(name)), face);
    EXPECT_EQ(form.styleSheet(), sheet);
    h.Find<QWidget>("PushButton1")->ensurePolished();
    EXPECT_EQ(h.Find<QWidget>("PushButton1")->palette().color(QPalette::ButtonText),
              QColor("#123456"));
  }
}

TEST(StartUp, ClosingTheWindowDuringALongCommandEndsIt) {
  Form1Harness h;
  Form1& form = h.Start();
  // A command that yields until the window is closed, as the long commands do.
  QTimer::singleShot(20, &form, [&form] { form.close(); });
  int yields = 0;
  while (!form.Closed() && yields < 100000) {
    form.DoEvents();
    ++yields;
  }
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(form.isVisible());
}

struct Control {
  const char* name;
  const char* caption;  // text, title or tooltip
  int left, top, width, height;
  double points;
};

TEST(MainWindow, PlacesEveryControlAsDesigned) {
  Form1Harness h;
  Form1& form = h.Start(false);
  // The design's window, one row taller for the option of combining tables in the frame.
  EXPECT_EQ(form.minimumSize(), QSize(Twips(6960), Twips(5940 + 360)));
  EXPECT_EQ(form.maximumSize(), form.minimumSize());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);

  const Control controls[] = {
      {"ListView1",
       "Drag and drop files here. Double-click item to remove it. Move bar to right and out "
       "of window to reveal full names.",
       120, 120, 5760, 2295, 9},
      {"PushButton5", "Move Up", 6000, 120, 840, 1095, 11.25},
      {"PushButton6", "Move Down", 6000, 1320, 840, 1095, 11.25},
      {"PushButton1", "Add XML File(s)", 120, 2520, 2175, 1455, 11.25},
      {"PushButton2", "Add All XML File(s) In Folder", 2400, 2520, 2175, 1455, 11.25},
      {"PushButton4", "Start Importing", 4680, 2520, 2160, 1455, 11.25},
      {"Frame1", "Options", 120, 4035, 6735, 735 + 360, 9},
      {"Option1", "Send XML file(s) to one sheet", 240, 300, 2775, 255, 9},
      {"Option2", "Send XML file(s) to multiple sheets", 3120, 300, 3375, 255, 9},
      {"Check1", "Combine tables of the same name from all files", 240, 660, 6375, 255, 9},
      {"PushButton3", "Help", 120, 4890 + 360, 6720, 405, 11.25},
      {"ProgressBar1", "Progress Bar", 120, 5400 + 360, 6720, 405, 9},
  };
  for (const Control& c : controls) {
    SCOPED_TRACE(c.name);
    QWidget* w = h.Find<QWidget>(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(Twips(c.left), Twips(c.top), Twips(c.width), Twips(c.height)));
    QString caption;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) caption = b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) caption = g->title();
    if (auto* p = qobject_cast<QProgressBar*>(w)) caption = p->text();
    if (c.name == std::string("ListView1")) caption = w->toolTip();
    EXPECT_EQ(caption, c.caption);
    EXPECT_TRUE(w->font().bold());
    EXPECT_DOUBLE_EQ(w->font().pointSizeF(), c.points);
    // Arial itself where it is installed, otherwise its metric twin.
    const QString family = QFontInfo(w->font()).family();
    EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family.toStdString();
  }
  EXPECT_EQ(h.Find<QWidget>("Option1")->parentWidget(), h.Find<QWidget>("Frame1"));
  EXPECT_EQ(h.Find<QWidget>("Option2")->parentWidget(), h.Find<QWidget>("Frame1"));
  EXPECT_EQ(h.Find<QWidget>("Check1")->parentWidget(), h.Find<QWidget>("Frame1"));
  EXPECT_TRUE(h.Find<QAbstractButton>("PushButton3")->icon().isNull());
  for (const char* name :
       {"PushButton1", "PushButton2", "PushButton4", "PushButton5", "PushButton6"}) {
    auto* b = h.Find<QAbstractButton>(name);
    EXPECT_FALSE(b->icon().isNull()) << name;
    EXPECT_EQ(b->iconSize(), QSize(32, 32)) << name;
  }
  EXPECT_FALSE(form.windowIcon().isNull());
}

TEST(MainWindow, TabsThroughTheControlsInTheDesignedOrder) {
  Form1Harness h;
  Form1& form = h.Start(false);
  // The bar and the frame take no focus.
  const QStringList expected{"ListView1",   "PushButton2", "PushButton1", "PushButton4",
                             "PushButton3", "Option2",     "Option1",     "Check1",
                             "PushButton5", "PushButton6"};
  QStringList chain;
  QWidget* w = h.Find<QWidget>("ListView1");
  do {
    if (w->focusPolicy() & Qt::TabFocus && !w->objectName().isEmpty()) chain << w->objectName();
    w = w->nextInFocusChain();
  } while (w != h.Find<QWidget>("ListView1") && chain.size() < 20);
  EXPECT_EQ(chain.join(' ').toStdString(), expected.join(' ').toStdString());
  (void)form;
}

TEST(MainHelpers, FileExistsAnswersWithoutThrowing) {
  test::TempDir dir;
  const std::string file = dir.Write("a.xml", "<a/>").string();
  const struct {
    std::string path;
    bool exists;
  } cases[] = {{file, true},
               {dir.Str(), true},
               {dir.Str() + "/missing.xml", false},
               {"", false},
               {file + "/below-a-file", false},
               {std::string("/tmp\0/x", 7), false},
               {"/" + std::string(5000, 'n'), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 80));
    EXPECT_EQ(FileExists(c.path), c.exists);
  }
}

TEST(MainHelpers, CentresOnTheWholeScreenWithoutClamping) {
  const QRect screen(0, 0, 1920, 1080);
  EXPECT_EQ(CenteredPosition(screen, QSize(464, 396)), QPoint(728, 342));
  EXPECT_EQ(CenteredPosition(screen, QSize(2000, 1200)), QPoint(-40, -60));
  EXPECT_EQ(CenteredPosition(QRect(1920, 0, 1280, 1024), QSize(465, 397)), QPoint(2327, 313));
}

TEST(ProgramFolder, TheBuildShipsUsableFiles) {
  const std::string folder = PALOMET_PROGRAM_DIR;
  EXPECT_TRUE(FileExists(ProgramFile(folder, "temp.mdb")));
  EXPECT_TRUE(LoadPointerImage(ProgramFile(folder, "HAND-M.CUR")).has_value());
  QImageReader drag(QString::fromStdString(ProgramFile(folder, "drag.ico")));
  drag.setDecideFormatFromContent(true);
  EXPECT_FALSE(drag.read().isNull());
  // The skin ships with the sources only.
  EXPECT_FALSE(FileExists(ProgramFile(folder, "x/o.cjs")));
}

}  // namespace
}  // namespace palomet
