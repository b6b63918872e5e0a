#include "office/xlwindow/SheetList.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace palomet::xlwindow {

namespace {

constexpr int kMostRowsShown = 20;

}  // namespace

SheetList::SheetList(const QStringList& names, int current, QWidget* parent)
    : QFrame(parent, Qt::Popup) {
  setObjectName("SheetList");
  setAttribute(Qt::WA_DeleteOnClose);
  setFrameShape(QFrame::StyledPanel);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 4);
  column->setSpacing(4);
  filter_ = new QLineEdit(this);
  filter_->setObjectName("SheetFilter");
  filter_->setPlaceholderText(tr("Type to narrow the list"));
  filter_->setClearButtonEnabled(true);
  filter_->installEventFilter(this);
  column->addWidget(filter_);
  names_ = new QListWidget(this);
  names_->setObjectName("SheetNames");
  names_->setUniformItemSizes(true);
  names_->setFocusPolicy(Qt::NoFocus);  // the keys stay in the field, which passes moves on
  names_->addItems(names);
  column->addWidget(names_);
  if (QListWidgetItem* item = names_->item(current)) {
    QFont bold = item->font();
    bold.setBold(true);
    item->setFont(bold);
    names_->setCurrentItem(item);
  }
  connect(filter_, &QLineEdit::textChanged, this, &SheetList::Narrow);
  connect(names_, &QListWidget::itemClicked, this, [this] { Choose(); });

  // Wide enough for the longest name (31 characters at most), high enough for a screenful.
  int widest = filter_->fontMetrics().horizontalAdvance(filter_->placeholderText());
  QFont bold = names_->font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  for (const QString& name : names) widest = std::max(widest, metrics.horizontalAdvance(name));
  const int rows = std::clamp(static_cast<int>(names.size()), 1, kMostRowsShown);
  const int row = std::max(names_->sizeHintForRow(0), metrics.height());
  names_->setMinimumWidth(widest + names_->verticalScrollBar()->sizeHint().width() + 24);
  names_->setFixedHeight(rows * row + 2 * names_->frameWidth() + 2);
}

void SheetList::Popup(const QPoint& corner) {
  adjustSize();
  const QScreen* screen = QGuiApplication::screenAt(corner);
  if (!screen) screen = this->screen();
  QRect place(QPoint(corner.x(), corner.y() - height()), size());
  if (screen) {
    const QRect area = screen->availableGeometry();
    place.moveLeft(
        std::clamp(place.left(), area.left(), std::max(area.left(), area.right() - width())));
    place.moveTop(
        std::clamp(place.top(), area.top(), std::max(area.top(), area.bottom() - height())));
  }
  move(place.topLeft());
  show();
  filter_->setFocus(Qt::PopupFocusReason);
  if (QListWidgetItem* item = names_->currentItem()) {
    names_->scrollToItem(item, QAbstractItemView::PositionAtCenter);
  }
}

bool SheetList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filter_ && event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
        QCoreApplication::sendEvent(names_, event);
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        Choose();
        return true;
      case Qt::Key_Escape:
        close();
        return true;
      default:
        break;
    }
  }
  return QFrame::eventFilter(watched, event);
}

void SheetList::Narrow(const QString& text) {
  QListWidgetItem* first = nullptr;
  for (int i = 0; i < names_->count(); ++i) {
    QListWidgetItem* item = names_->item(i);
    const bool shown = item->text().contains(text, Qt::CaseInsensitive);
    item->setHidden(!shown);
    if (shown && !first) first = item;
  }
  QListWidgetItem* current = names_->currentItem();
  if (!current || current->isHidden()) names_->setCurrentItem(first);
}

void SheetList::Choose() {
  QListWidgetItem* item = names_->currentItem();
  if (!item || item->isHidden()) return;
  const int index = names_->row(item);
  close();
  emit Chosen(index);
}

}  // namespace palomet::xlwindow
