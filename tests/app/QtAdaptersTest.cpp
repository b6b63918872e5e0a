#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/QtDialogs.h"
#include "filelist/AddFolder.h"
#include "filelist/DialogIntake.h"
#include "office/xlwindow/QtMessageBoxes.h"
#include "office/xlwindow/WorkbookWindow.h"

namespace palomet {
namespace {

// Runs `inspect` on the message box once it is up, then closes it with `answer`.
void WhenBoxShows(std::function<void(QMessageBox&)> inspect, QMessageBox::StandardButton answer) {
  QTimer::singleShot(0, [inspect, answer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    inspect(*box);
    if (answer == QMessageBox::NoButton) {
      box->reject();
    } else {
      box->button(answer)->click();
    }
  });
}

TEST(QtMessageBoxes, ShowsPlainTextParagraphsUnderTheAppTitle) {
  QtMessageBoxes boxes;
  WhenBoxShows(
      [](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), "Palomet");
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.text(), "One & <b>two</b>\n\nThree");
        EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
      },
      QMessageBox::Ok);
  EXPECT_EQ(boxes.Show("One & <b>two</b>\r\rThree", MsgButtons::Ok, MsgIcon::None), MsgResult::Ok);
}

TEST(QtMessageBoxes, AnswersQuestionsWithTheButtonPressed) {
  QtMessageBoxes boxes;
  WhenBoxShows(
      [](QMessageBox& box) {
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::No));
      },
      QMessageBox::Yes);
  EXPECT_EQ(boxes.Show("Go on?", MsgButtons::YesNo, MsgIcon::Warning, MsgResult::No),
            MsgResult::Yes);
  // A question closed without an answer counts as No.
  WhenBoxShows([](QMessageBox&) {}, QMessageBox::NoButton);
  EXPECT_EQ(boxes.Show("Go on?", MsgButtons::YesNo, MsgIcon::None, MsgResult::Yes), MsgResult::No);
}

// The workbook window's own questions and errors go through the same boxes: a path is
// shown as written, never as markup.
TEST(QtMessageBoxes, WorkbookWindowPromptsShowPlainText) {
  const auto prompts = xlwindow::MakeWindowPrompts();
  WhenBoxShows(
      [](QMessageBox& box) {
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.text(), "Cannot write /tmp/<b>bold</b>.xlsx");
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
      },
      QMessageBox::Ok);
  prompts->ShowError("Cannot write /tmp/<b>bold</b>.xlsx");
  WhenBoxShows(
      [](QMessageBox& box) {
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.windowTitle(), "Palomet");
        EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::Save));
      },
      QMessageBox::Discard);
  EXPECT_EQ(prompts->AskSaveChanges("<i>Book1</i>"), xlwindow::WindowPrompts::SaveAnswer::Discard);
  WhenBoxShows([](QMessageBox&) {}, QMessageBox::NoButton);
  EXPECT_EQ(prompts->AskSaveChanges("Book1"), xlwindow::WindowPrompts::SaveAnswer::Cancel);
}

TEST(QtMessageBoxes, LineBreaksOfEveryKindSeparateParagraphs) {
  EXPECT_EQ(MessageBoxText("a\r\rb"), "a\n\nb");
  EXPECT_EQ(MessageBoxText("a\r\n\r\nb"), "a\n\nb");
  EXPECT_EQ(MessageBoxText("a\nb"), "a\nb");
  EXPECT_EQ(MessageBoxText("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
}

TEST(QtDialogs, FilterBecomesQtsForm) {
  EXPECT_EQ(QtNameFilter("XML Files (*.xml)|*.xml|"), "XML Files (*.xml)");
  EXPECT_EQ(QtNameFilter("Text|*.txt;*.csv|All|*.*|"), "Text (*.txt *.csv);;All (*.*)");
  EXPECT_EQ(QtNameFilter(""), "");
}

// The file dialog opens on XML files, as before; compressed XML files and archives (what a
// folder scan takes), and all files, are the filters after it.
TEST(QtDialogs, TheFileDialogOpensOnXmlFilesAndOffersPackedAndAllFiles) {
  QStringList filters;
  QString selected;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    selected = dialog->selectedNameFilter();
    dialog->reject();
  });
  QtDialogs dialogs;
  EXPECT_TRUE(dialogs.GetOpenFileNames(kAddFilesTitle, AddFilesFilter()).empty());
  ASSERT_EQ(filters.size(), 3);
  EXPECT_EQ(filters[0], "XML Files (*.xml)");
  EXPECT_EQ(selected, filters[0]);
  EXPECT_EQ(filters[1], "XML, Compressed XML and Archives (" +
                            QString::fromStdString(ScanPattern()).replace(';', ' ') + ")");
  EXPECT_EQ(filters[2], "All Files (*)");
}

TEST(QtDialogs, SelectionPartsRebuildTheSamePaths) {
  using Parts = std::vector<std::string>;
  EXPECT_EQ(SelectionParts({}), Parts{});
  EXPECT_EQ(SelectionParts({"/data/a.xml"}), Parts{"/data/a.xml"});
  EXPECT_EQ(SelectionParts({"/data/b.xml", "/data/a.xml"}), (Parts{"/data", "b.xml", "a.xml"}));
  EXPECT_EQ(SelectionParts({"/a.xml", "/b.xml"}), (Parts{"/", "a.xml", "b.xml"}));
  EXPECT_EQ(SelectionParts({"/data/a.xml", "/other/b.xml"}),
            (Parts{"/data", "a.xml", "/other/b.xml"}));
}

}  // namespace
}  // namespace palomet
