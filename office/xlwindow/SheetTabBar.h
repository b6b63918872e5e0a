#pragma once

#include <QWidget>
#include <vector>

class QToolButton;

namespace palomet::xlwindow {

// The sheet tabs: a strip of tabs under the grid, drawn as the style draws a tab bar's, with
// two buttons at its right end that scroll it a tab at a time. A workbook may have tens of
// thousands of sheets, and a tab bar lays every tab out again at every tab added (so that a
// run's sheets cost in proportion to the square of their number): the strip keeps each tab's
// text, its width, measured once, and where it starts, so that a tab added at the end, a
// repaint and finding the tab under the pointer cost the same however many there are. A
// click chooses a tab; the wheel scrolls; a right click on the strip or its buttons asks for
// the list of every sheet.
class SheetTabBar : public QWidget {
  Q_OBJECT
 public:
  explicit SheetTabBar(QWidget* parent = nullptr);

  int count() const { return static_cast<int>(tabs_.size()); }
  // The chosen tab, -1 when there is none.
  int currentIndex() const { return current_; }
  // Chooses the tab (clamped to the tabs there are) and scrolls it into view; currentChanged
  // follows when the choice changed.
  void setCurrentIndex(int index);
  QString tabText(int index) const;
  void insertTab(int index, const QString& text);
  void removeTab(int index);
  void setTabText(int index, const QString& text);
  void moveTab(int from, int to);
  // Where the tab is drawn, in the strip's coordinates; empty when it is out of view.
  QRect tabRect(int index) const;
  // The tab at `pos`, -1 for none.
  int tabAt(const QPoint& pos) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void currentChanged(int index);
  // At `at`, the global place of the right click.
  void ListAsked(const QPoint& at);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Tab {
    QString text;
    int width = 0;
  };

  int Measure(const QString& text) const;
  // Where tab `index` starts, counted from the first tab; `index` may be count().
  int Start(int index) const;
  // Tab `index` changed (came, went, moved or was renamed): the tabs after it start
  // elsewhere now.
  void Moved(int index);
  // The width the tabs have, the scroll buttons taken off when they show.
  int ViewWidth() const;
  // Scrolls so that the first tab in view is `first`, the view as full as it can be.
  void ScrollTo(int first);
  void MakeVisible(int index);
  void Layout();

  std::vector<Tab> tabs_;
  mutable std::vector<int> starts_;  // where each tab starts, known for the first `known_`
  mutable int known_ = 0;
  int first_ = 0;     // the first tab in view
  int current_ = -1;  // the chosen tab
  int height_ = 0;    // of a tab, as the style makes it
  QToolButton* back_;
  QToolButton* on_;
};

}  // namespace palomet::xlwindow
