#include <gtest/gtest.h>

#include <QCheckBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>

#include "app/Controls.h"
#include "app/Main.h"
#include "tests/support/Form1Harness.h"

namespace palomet {
namespace {

using test::Form1Harness;

void Click(QWidget* w) {
  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
}

TEST(Options, EachClickStoresTheChoiceAtOnceAndTheNextStartRestoresIt) {
  Form1Harness h;
  h.Start();
  Click(h.Find<QRadioButton>("Option2"));
  EXPECT_EQ(h.StoredSetting("Option"), "2");
  h.Restart();
  EXPECT_TRUE(h.Find<QRadioButton>("Option2")->isChecked());

  Click(h.Find<QRadioButton>("Option1"));
  EXPECT_EQ(h.StoredSetting("Option"), "1");
  EXPECT_FALSE(h.form->Option2Value());
  h.Restart();
  EXPECT_TRUE(h.Find<QRadioButton>("Option1")->isChecked());
  EXPECT_TRUE(h.messages.shown.empty());
}

TEST(Options, CombiningIsOffAtFirstAndEachClickIsStoredForTheNextStart) {
  Form1Harness h;
  h.Start();
  auto* check1 = h.Find<QCheckBox>("Check1");
  EXPECT_FALSE(check1->isChecked());
  EXPECT_EQ(h.StoredSetting("Combine"), "<unset>");
  for (const char* stored : {"1", "0"}) {
    Click(h.Find<QCheckBox>("Check1"));
    EXPECT_EQ(h.StoredSetting("Combine"), stored);
    EXPECT_EQ(h.StoredSetting("Option"), "<unset>") << "the sheet mode is a setting of its own";
    h.Restart();
    EXPECT_EQ(h.Find<QCheckBox>("Check1")->isChecked(), stored == std::string("1"));
  }
}

TEST(Options, ClickingTheSelectedChoiceStoresItAgain) {
  Form1Harness h;
  h.StoreSetting("Option", "garbage");
  h.Start();
  Click(h.Find<QRadioButton>("Option1"));
  EXPECT_EQ(h.StoredSetting("Option"), "1");
}

TEST(Options, AStoreThatRefusesTheWriteChangesNothingVisible) {
  Form1Harness h;
  // A regular file where the store's folder should be: no write can succeed.
  h.settingsFolder = h.temp.Write("not-a-folder", "").string();
  h.Start();
  auto* option2 = h.Find<QRadioButton>("Option2");
  Click(option2);
  EXPECT_TRUE(option2->isChecked());
  EXPECT_TRUE(h.form->Option2Value());
  EXPECT_TRUE(h.messages.shown.empty());
  h.Restart();
  EXPECT_TRUE(h.Find<QRadioButton>("Option1")->isChecked());
}

TEST(Help, ShowsTheFourParagraphsSeparatedByTwoCarriageReturns) {
  Form1Harness h;
  h.Start();
  Click(h.Find<QWidget>("PushButton3"));
  ASSERT_EQ(h.messages.shown.size(), 1u);
  const auto& box = h.messages.shown[0];
  EXPECT_EQ(box.text,
            "Make sure XML files can be opened in Internet Explorer. Internet Explorer validates "
            "XML files and will inform you if there are invalid character(s).\r\r"
            "An exaple of an invalid character is &\r\r"
            "You must have MS Excel and Access 2002 (XP) or higher installed to use this "
            "software.\r\r"
            "This software imports XML files into Excel but MS Access is opened when you click "
            "the 'Start' button to help with the import process.");
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(box.icon, MsgIcon::None);
  EXPECT_EQ(h.List().Count(), 0);
}

// Sends a pointer move without buttons to `w`, as the window system does; moves
// that the widget does not take pass on to its parents.
void MoveOver(QWidget* w) {
  QMouseEvent move(QEvent::MouseMove, QPointF(w->width() / 2.0, w->height() / 2.0),
                   w->mapToGlobal(QPointF(w->width() / 2.0, w->height() / 2.0)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &move);
}

void MoveOverBareWindow(Form1& form) {
  // Between the list and the Move Up button.
  const QPointF at(Twips(5940), Twips(600));
  ASSERT_EQ(form.childAt(at.toPoint()), nullptr);
  QMouseEvent move(QEvent::MouseMove, at, form.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&form, &move);
}

TEST(Pointer, HoverAndRestRulesFollowThePointer) {
  Form1Harness h;
  h.CopyShippedProgramFile("HAND-M.CUR");
  Form1& form = h.Start();
  const char* const buttons[] = {"PushButton1", "PushButton2", "PushButton3",
                                 "PushButton4", "PushButton5", "PushButton6"};
  for (const char* name : buttons) {
    SCOPED_TRACE(name);
    form.SetMousePointer(Pointer::Default);
    MoveOver(h.Find<QWidget>(name));
    EXPECT_EQ(form.MousePointer(), Pointer::Image);
    EXPECT_EQ(form.cursor().shape(), Qt::BitmapCursor);
    // No rule on the options, the frame or the bar.
    for (const char* other : {"Option1", "Option2", "Frame1", "ProgressBar1"}) {
      MoveOver(h.Find<QWidget>(other));
      EXPECT_EQ(form.MousePointer(), Pointer::Image) << other;
    }
    MoveOverBareWindow(form);
    EXPECT_EQ(form.MousePointer(), Pointer::Default);
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
  }
  MoveOver(h.Find<QWidget>("PushButton1"));
  MoveOver(h.List().viewport());
  EXPECT_EQ(form.MousePointer(), Pointer::Default);
}

TEST(Pointer, NoRuleReplacesTheBusyPointer) {
  Form1Harness h;
  h.CopyShippedProgramFile("HAND-M.CUR");
  Form1& form = h.Start();
  form.SetMousePointer(Pointer::Busy);
  for (QWidget* w : {h.Find<QWidget>("PushButton4"), static_cast<QWidget*>(h.List().viewport()),
                     h.Find<QWidget>("PushButton3")}) {
    MoveOver(w);
    EXPECT_EQ(form.MousePointer(), Pointer::Busy) << w->objectName().toStdString();
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
  }
  MoveOverBareWindow(form);
  EXPECT_EQ(form.MousePointer(), Pointer::Busy);
  // Only the command that set it clears it.
  form.SetMousePointer(Pointer::Default);
  MoveOver(h.Find<QWidget>("PushButton4"));
  EXPECT_EQ(form.MousePointer(), Pointer::Image);
}

}  // namespace
}  // namespace palomet
