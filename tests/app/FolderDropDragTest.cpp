#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/ListView.h"
#include "tests/support/ArchiveFixtures.h"
#include "tests/support/Form1Harness.h"

namespace palomet {
namespace {

using test::Form1Harness;
using Texts = std::vector<std::string>;

// A drag from outside over the list and its release, as the platform delivers them.
struct DropResult {
  bool enterAccepted, dropAccepted;
  Qt::DropAction action;
};
DropResult DragAndDrop(ListView& list, QMimeData* data,
                       Qt::DropActions possible = Qt::CopyAction | Qt::MoveAction,
                       Qt::DropAction proposed = Qt::MoveAction) {
  QWidget* target = list.viewport();
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, possible, data, Qt::LeftButton, Qt::NoModifier);
  enter.setDropAction(proposed);
  QCoreApplication::sendEvent(target, &enter);
  QDragMoveEvent move(at, possible, data, Qt::LeftButton, Qt::NoModifier);
  move.setDropAction(proposed);
  QCoreApplication::sendEvent(target, &move);
  QDropEvent drop(QPointF(at), possible, data, Qt::LeftButton, Qt::NoModifier);
  drop.setDropAction(proposed);
  QCoreApplication::sendEvent(target, &drop);
  return {enter.isAccepted(), drop.isAccepted(), drop.dropAction()};
}

QMimeData* FileUrls(const Texts& paths) {
  auto* data = new QMimeData;
  QList<QUrl> urls;
  for (const auto& p : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
  data->setUrls(urls);
  return data;
}

// The folder button takes what palomet-import's folder scan takes: XML files, compressed
// ones, and the XML files of archives.
TEST(FolderButton, AddsTheTreeWithTheBusyPointerAndCancelAddsNothing) {
  Form1Harness h;
  for (const char* f : {"tree/b.XML", "tree/a.xml", "tree/~a.xml", "tree/n.txt", "tree/s/c.xml",
                        "tree/f.xml.bak", "tree/~g.xml.gz"}) {
    h.temp.Write(f, "");
  }
  const std::string tree = h.temp.Str() + "/tree";
  test::WriteCompressed(tree + "/d.xml.gz", "gzip", "<r/>");
  test::WritePacked(tree + "/e.zip", {"zip", ""}, {{"m.xml", "<r/>"}, {"n.txt", ""}});
  Form1& form = h.Start();
  h.dialogs.folderAnswers.push_back(tree);
  std::optional<Pointer> pointerDuringScan;
  QTimer::singleShot(0, &form, [&] { pointerDuringScan = form.MousePointer(); });
  h.Click("PushButton2");
  EXPECT_EQ(h.dialogs.shown.back().title, "Please select folder to add:");
  const Texts scanned = {tree + "/a.xml", tree + "/b.XML", tree + "/d.xml.gz",
                         tree + "/e.zip:m.xml", tree + "/s/c.xml"};
  EXPECT_EQ(h.Texts(), scanned);
  EXPECT_EQ(pointerDuringScan, Pointer::Busy);
  EXPECT_EQ(form.MousePointer(), Pointer::Default);

  form.SetMousePointer(Pointer::Image);
  h.Click("PushButton2");  // cancelled
  EXPECT_EQ(h.Texts(), scanned);
  EXPECT_EQ(form.MousePointer(), Pointer::Image);
}

TEST(ListDrop, AddsFilesAndFolderTreesInDropOrder) {
  Form1Harness h;
  for (const char* f : {"F/a.xml", "F/b.txt", "F/~c.xml", "G/g.xml", "x.dat"}) h.temp.Write(f, "");
  const std::string t = h.temp.Str();
  h.Start();
  // A file manager may send a folder with a trailing slash; its entries still get one "/".
  auto* data = FileUrls({t + "/G/", t + "/x.dat", t + "/gone.xml", t + "/F"});
  data->setText(QStringLiteral("ignored"));
  const DropResult r = DragAndDrop(h.List(), data);
  EXPECT_TRUE(r.enterAccepted);
  EXPECT_TRUE(r.dropAccepted);
  EXPECT_EQ(r.action, Qt::CopyAction);  // never a move: the source keeps its files
  EXPECT_EQ(h.Texts(), (Texts{t + "/G/g.xml", t + "/x.dat", t + "/F/a.xml", t + "/F/b.txt"}));
  delete data;
}

// An archive, dropped or typed in the file dialog, lists its XML files; a compressed file
// is a file like any other.
TEST(ListDrop, AnArchiveListsItsXmlFilesDroppedOrTypedInTheDialog) {
  Form1Harness h;
  const std::string t = h.temp.Str();
  test::WritePacked(t + "/x.zip", {"zip", ""},
                    {{"a.xml", "<r/>"}, {"readme.txt", ""}, {"sub/b.XML", "<r/>"}});
  test::WriteCompressed(t + "/c.xml.gz", "gzip", "<r/>");
  h.Start();
  auto* data = FileUrls({t + "/x.zip", t + "/c.xml.gz"});
  EXPECT_TRUE(DragAndDrop(h.List(), data).dropAccepted);
  delete data;
  const Texts members = {t + "/x.zip:a.xml", t + "/x.zip:sub/b.XML"};
  EXPECT_EQ(h.Texts(), (Texts{members[0], members[1], t + "/c.xml.gz"}));

  h.dialogs.fileAnswers.push_back({t + "/x.zip"});
  h.Click("PushButton1");
  EXPECT_EQ(h.Texts(), (Texts{members[0], members[1], t + "/c.xml.gz", members[0], members[1]}));
}

TEST(ListDrop, RefusesDragsWithoutLocalFiles) {
  Form1Harness h;
  h.temp.Write("a.xml", "");
  h.Start();
  auto* text = new QMimeData;
  text->setText(QStringLiteral("/etc/passwd"));
  auto* web = new QMimeData;
  web->setUrls({QUrl(QStringLiteral("https://example.org/a.xml"))});
  auto* moveOnly = FileUrls({h.temp.Str() + "/a.xml"});
  const struct {
    const char* what;
    QMimeData* data;
    Qt::DropActions possible;
  } cases[] = {{"text", text, Qt::CopyAction},
               {"web addresses", web, Qt::CopyAction},
               {"files that may only be moved", moveOnly, Qt::MoveAction}};
  for (const auto& c : cases) {
    const DropResult r = DragAndDrop(h.List(), c.data, c.possible, Qt::CopyAction);
    EXPECT_FALSE(r.enterAccepted) << c.what;
    EXPECT_FALSE(r.dropAccepted) << c.what;
    EXPECT_EQ(h.List().Count(), 0) << c.what;
    delete c.data;
  }
}

class ListDrag : public ::testing::Test {
 protected:
  Form1& Start(const Texts& texts, bool withImage = true) {
    if (withImage) h.CopyShippedProgramFile("drag.ico");
    Form1& form = h.Start();
    h.Fill(texts);
    return form;
  }
  QWidget* Viewport() { return h.List().viewport(); }
  void Press(int position) {
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, h.RowCentre(position));
  }
  void MoveTo(int position) { QTest::mouseMove(Viewport(), h.RowCentre(position)); }
  void Release(QPoint at) { QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, at); }

  Form1Harness h;
};

TEST_F(ListDrag, TheDraggedPathTravelsAndTheSelectionFollows) {
  Form1& form = Start({"A", "B", "C", "D"});
  Press(1);
  EXPECT_TRUE(form.Dragging());
  EXPECT_EQ(Viewport()->cursor().shape(), Qt::BitmapCursor);  // the drag image
  for (int p : {2, 3, 4}) MoveTo(p);
  Release(h.RowCentre(4));
  EXPECT_EQ(h.Texts(), (Texts{"B", "C", "D", "A"}));
  EXPECT_EQ(h.List().SelectedIndex(), 4);
  EXPECT_FALSE(form.Dragging());
  EXPECT_FALSE(Viewport()->testAttribute(Qt::WA_SetCursor));  // the window's arrow again

  // A jump straight to the top swaps two paths only; released off the entries.
  Press(4);
  MoveTo(1);
  Release(QPoint(5, Viewport()->height() - 2));
  EXPECT_EQ(h.Texts(), (Texts{"A", "C", "D", "B"}));
  EXPECT_EQ(h.List().SelectedIndex(), 1);
  EXPECT_EQ(h.List().PositionOf(form.DragItem()), 1);
}

TEST_F(ListDrag, WithoutTheDragImageTheListKeepsItsPointer) {
  Start({"A", "B"}, false);
  Press(1);
  EXPECT_FALSE(Viewport()->testAttribute(Qt::WA_SetCursor));
  MoveTo(2);
  Release(h.RowCentre(2));
  EXPECT_EQ(h.Texts(), (Texts{"B", "A"}));
}

TEST_F(ListDrag, ScrollsAtTheScreenLimitsOnly) {
  Texts many;
  for (int i = 1; i <= 40; ++i) many.push_back("entry " + std::to_string(i));
  Form1& form = Start(many);
  ListView& list = h.List();
  // Drags entry 21 onto entry 20, shown as the top row, with the pointer at screen
  // height `y`; reports how far the list scrolled.
  auto scrollFromExchangeAt = [&](int y) {
    list.scrollToItem(list.ItemAt(20), QAbstractItemView::PositionAtTop);
    const int before = list.verticalScrollBar()->value();
    const QPoint row = h.RowCentre(20);
    form.move(form.x(), form.y() + y - Viewport()->mapToGlobal(row).y());
    EXPECT_EQ(Viewport()->mapToGlobal(h.RowCentre(20)).y(), y);
    Press(21);
    MoveTo(20);
    Release(h.RowCentre(20));
    return list.verticalScrollBar()->value() - before;
  };
  EXPECT_LT(scrollFromExchangeAt(304), 0);  // entry 19 scrolled into view
  EXPECT_EQ(scrollFromExchangeAt(305), 0);
  EXPECT_EQ(scrollFromExchangeAt(364), 0);
}

}  // namespace
}  // namespace palomet
