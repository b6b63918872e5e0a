#include "office/xlwindow/SheetTabBar.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTabBar>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <optional>

namespace palomet::xlwindow {

namespace {

QStyleOptionTab TabOption(const QWidget* bar) {
  QStyleOptionTab option;
  option.initFrom(bar);
  option.shape = QTabBar::RoundedSouth;
  option.documentMode = true;
  return option;
}

}  // namespace

SheetTabBar::SheetTabBar(QWidget* parent)
    : QWidget(parent), back_(new QToolButton(this)), on_(new QToolButton(this)) {
  setFocusPolicy(Qt::NoFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  starts_.assign(1, 0);
  known_ = 1;
  for (QToolButton* button : {back_, on_}) {
    button->setArrowType(button == back_ ? Qt::LeftArrow : Qt::RightArrow);
    button->setAutoRaise(true);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->hide();
  }
  connect(back_, &QToolButton::clicked, this, [this] { ScrollTo(first_ - 1); });
  connect(on_, &QToolButton::clicked, this, [this] { ScrollTo(first_ + 1); });
  height_ = style()->sizeFromContents(QStyle::CT_TabBarTab, nullptr, QSize(0, 0), this).height();
  Measure(QStringLiteral("Sheet1"));
}

int SheetTabBar::Measure(const QString& text) const {
  QStyleOptionTab option = TabOption(this);
  option.text = text;
  const int hSpace = style()->pixelMetric(QStyle::PM_TabBarTabHSpace, &option, this);
  const int vSpace = style()->pixelMetric(QStyle::PM_TabBarTabVSpace, &option, this);
  const QFontMetrics metrics = fontMetrics();
  const QSize content(metrics.size(Qt::TextShowMnemonic, text).width() + hSpace,
                      metrics.height() + vSpace);
  const QSize size = style()->sizeFromContents(QStyle::CT_TabBarTab, &option, content, this);
  const_cast<SheetTabBar*>(this)->height_ = std::max(height_, size.height());
  return size.width();
}

int SheetTabBar::Start(int index) const {
  for (; known_ <= index; ++known_) {
    starts_[static_cast<std::size_t>(known_)] = starts_[static_cast<std::size_t>(known_) - 1] +
                                                tabs_[static_cast<std::size_t>(known_) - 1].width;
  }
  return starts_[static_cast<std::size_t>(index)];
}

void SheetTabBar::Moved(int index) {
  starts_.resize(tabs_.size() + 1);
  known_ = std::min(known_, index + 1);
}

int SheetTabBar::ViewWidth() const {
  return on_->isVisible() ? std::max(0, back_->x()) : width();
}

QString SheetTabBar::tabText(int index) const {
  return index >= 0 && index < count() ? tabs_[static_cast<std::size_t>(index)].text : QString();
}

void SheetTabBar::insertTab(int index, const QString& text) {
  index = std::clamp(index, 0, count());
  tabs_.insert(tabs_.begin() + index, Tab{text, Measure(text)});
  Moved(index);
  if (index < first_) ++first_;
  if (current_ >= index) ++current_;
  Layout();
  if (count() == 1) {
    setCurrentIndex(0);
  } else if (current_ >= 0) {
    MakeVisible(current_);
  }
  update();
}

void SheetTabBar::removeTab(int index) {
  if (index < 0 || index >= count()) return;
  tabs_.erase(tabs_.begin() + index);
  Moved(index);
  if (index < first_) --first_;
  Layout();
  if (current_ > index) {
    --current_;
  } else if (current_ == index) {
    // The tab on the right takes its place, as in a spreadsheet; the last one the one before.
    current_ = -1;
    setCurrentIndex(std::min(index, count() - 1));
    if (count() == 0) emit currentChanged(-1);
  }
  ScrollTo(first_);
}

void SheetTabBar::setTabText(int index, const QString& text) {
  if (index < 0 || index >= count()) return;
  Tab& tab = tabs_[static_cast<std::size_t>(index)];
  if (tab.text == text) return;
  tab.text = text;
  tab.width = Measure(text);
  Moved(index);
  Layout();
  update();
}

void SheetTabBar::moveTab(int from, int to) {
  if (from < 0 || from >= count() || to < 0 || to >= count() || from == to) return;
  const Tab tab = tabs_[static_cast<std::size_t>(from)];
  tabs_.erase(tabs_.begin() + from);
  tabs_.insert(tabs_.begin() + to, tab);
  Moved(std::min(from, to));
  if (current_ == from) {
    current_ = to;
  } else if (from < current_ && current_ <= to) {
    --current_;
  } else if (to <= current_ && current_ < from) {
    ++current_;
  }
  update();
}

void SheetTabBar::setCurrentIndex(int index) {
  if (count() == 0) return;
  index = std::clamp(index, 0, count() - 1);
  MakeVisible(index);
  if (index == current_) return;
  current_ = index;
  update();
  emit currentChanged(index);
}

QRect SheetTabBar::tabRect(int index) const {
  if (index < first_ || index >= count()) return {};
  const int x = Start(index) - Start(first_);
  if (x >= ViewWidth()) return {};
  return QRect(x, 0, tabs_[static_cast<std::size_t>(index)].width, height_);
}

int SheetTabBar::tabAt(const QPoint& pos) const {
  if (pos.x() < 0 || pos.x() >= ViewWidth() || pos.y() < 0 || pos.y() >= height_) return -1;
  const int x = Start(first_) + pos.x();
  Start(count());
  const auto begin = starts_.begin() + first_;
  const auto end = starts_.begin() + count() + 1;
  const auto after = std::upper_bound(begin, end, x);
  if (after == end) return -1;  // past the last tab
  return static_cast<int>(after - starts_.begin()) - 1;
}

void SheetTabBar::ScrollTo(int first) {
  const int last = count();
  // The furthest the strip scrolls: the last tab at the right edge of the view.
  const int total = Start(last);
  const int view = ViewWidth();
  const auto fits = std::lower_bound(starts_.begin(), starts_.begin() + last + 1, total - view);
  const int furthest = std::min(static_cast<int>(fits - starts_.begin()), std::max(0, last - 1));
  first = std::clamp(first, 0, std::max(0, furthest));
  if (first != first_) {
    first_ = first;
    update();
  }
  back_->setEnabled(first_ > 0);
  on_->setEnabled(total - Start(first_) > view);
}

void SheetTabBar::MakeVisible(int index) {
  if (index < first_) {
    ScrollTo(index);
    return;
  }
  const int end = Start(index + 1);
  const int view = ViewWidth();
  if (end - Start(first_) <= view) return ScrollTo(first_);
  // The first tab from which `index` fits.
  const auto from =
      std::lower_bound(starts_.begin() + first_, starts_.begin() + index + 1, end - view);
  ScrollTo(static_cast<int>(from - starts_.begin()));
}

void SheetTabBar::Layout() {
  const bool overflow = Start(count()) > width();
  const int side = height_;
  on_->setGeometry(width() - side, 0, side, side);
  back_->setGeometry(width() - 2 * side, 0, side, side);
  on_->setVisible(overflow);
  back_->setVisible(overflow);
}

QSize SheetTabBar::sizeHint() const {
  return QSize(Start(count()), height_);
}

QSize SheetTabBar::minimumSizeHint() const {
  return QSize(3 * height_, height_);
}

void SheetTabBar::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionTabBarBase base;
  base.initFrom(this);
  base.shape = QTabBar::RoundedSouth;
  base.documentMode = true;
  base.rect = QRect(0, 0, width(), height_);
  painter.drawPrimitive(QStyle::PE_FrameTabBarBase, base);
  painter.setClipRect(0, 0, ViewWidth(), height_);
  const int origin = Start(first_);
  const int view = ViewWidth();
  std::optional<QStyleOptionTab> chosen;
  for (int i = first_; i < count(); ++i) {
    const int x = Start(i) - origin;
    if (x >= view) break;
    QStyleOptionTab option = TabOption(this);
    option.rect = QRect(x, 0, tabs_[static_cast<std::size_t>(i)].width, height_);
    option.text = tabs_[static_cast<std::size_t>(i)].text;
    option.position = count() == 1       ? QStyleOptionTab::OnlyOneTab
                      : i == 0           ? QStyleOptionTab::Beginning
                      : i == count() - 1 ? QStyleOptionTab::End
                                         : QStyleOptionTab::Middle;
    option.selectedPosition = current_ == i - 1   ? QStyleOptionTab::PreviousIsSelected
                              : current_ == i + 1 ? QStyleOptionTab::NextIsSelected
                                                  : QStyleOptionTab::NotAdjacent;
    if (i == current_) {
      option.state |= QStyle::State_Selected;
      chosen = option;  // drawn last, over its neighbours' edges
      continue;
    }
    painter.drawControl(QStyle::CE_TabBarTab, option);
  }
  if (chosen) painter.drawControl(QStyle::CE_TabBarTab, *chosen);
}

void SheetTabBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const int index = tabAt(event->position().toPoint());
  if (index >= 0) setCurrentIndex(index);
  event->accept();
}

void SheetTabBar::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  const int steps = (delta.y() != 0 ? delta.y() : delta.x()) / 120;
  if (steps != 0) ScrollTo(first_ - steps);
  event->accept();
}

void SheetTabBar::contextMenuEvent(QContextMenuEvent* event) {
  emit ListAsked(event->globalPos());
  event->accept();
}

void SheetTabBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
  if (current_ >= 0) {
    MakeVisible(current_);
  } else {
    ScrollTo(first_);
  }
}

void SheetTabBar::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::FontChange && event->type() != QEvent::StyleChange) return;
  // Every tab measured again in the new font or style.
  height_ = style()->sizeFromContents(QStyle::CT_TabBarTab, nullptr, QSize(0, 0), this).height();
  for (Tab& tab : tabs_) tab.width = Measure(tab.text);
  Measure(QStringLiteral("Sheet1"));
  Moved(0);
  updateGeometry();
  Layout();
  update();
}

}  // namespace palomet::xlwindow
