#include "app/ListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "office/Error.h"

namespace palomet {

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kPathRole = Qt::UserRole + 1;

QString DisplayText(const std::string& text) {
  return QString::fromUtf8(text);
}

[[noreturn]] void ThrowBadPosition(int position) {
  throw Error(errnum::kGeneric,
              "Index out of bounds: there is no list entry " + std::to_string(position) + ".");
}

}  // namespace

ListView::ListView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(0);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTextElideMode(Qt::ElideRight);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setAcceptDrops(false);
  setDragEnabled(false);
  header()->setStretchLastSection(false);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
}

QTreeWidgetItem* ListView::ItemAt(int position) const {
  if (position < 1 || position > topLevelItemCount()) return nullptr;
  return topLevelItem(position - 1);
}

QTreeWidgetItem* ListView::At(int position) const {
  QTreeWidgetItem* item = ItemAt(position);
  if (!item) ThrowBadPosition(position);
  return item;
}

QTreeWidgetItem* ListView::MakeItem(const std::string& text) {
  auto* item = new QTreeWidgetItem();
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
  item->setData(0, kIdRole, QVariant::fromValue<qulonglong>(nextId_++));
  item->setData(0, kPathRole, QByteArray::fromStdString(text));
  item->setText(0, DisplayText(text));
  return item;
}

int ListView::Count() const {
  return topLevelItemCount();
}

std::string ListView::Text(int position) const {
  return At(position)->data(0, kPathRole).toByteArray().toStdString();
}

void ListView::SetText(int position, const std::string& text) {
  QTreeWidgetItem* item = At(position);
  item->setData(0, kPathRole, QByteArray::fromStdString(text));
  item->setText(0, DisplayText(text));
}

void ListView::Add(const std::string& text) {
  addTopLevelItem(MakeItem(text));
}

void ListView::Insert(int position, const std::string& text) {
  if (position < 1 || position > Count() + 1) ThrowBadPosition(position);
  insertTopLevelItem(position - 1, MakeItem(text));
}

void ListView::Remove(int position) {
  const bool wasSelected = At(position)->isSelected();
  delete takeTopLevelItem(position - 1);
  // In single selection the view hands the selection on to a neighbour of a
  // removed selected item; a removal selects no other entry.
  if (wasSelected) clearSelection();
}

EntryId ListView::Id(int position) const {
  return At(position)->data(0, kIdRole).value<qulonglong>();
}

int ListView::PositionOf(EntryId id) const {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    if (topLevelItem(i)->data(0, kIdRole).value<qulonglong>() == id) return i + 1;
  }
  return 0;
}

int ListView::SelectedIndex() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) return 0;
  return indexOfTopLevelItem(selected.front()) + 1;
}

void ListView::Select(int position) {
  setCurrentItem(At(position), 0, QItemSelectionModel::ClearAndSelect);
}

void ListView::mousePressEvent(QMouseEvent* event) {
  pressedIndex_ = indexAt(event->position().toPoint());
  emit MousePressed(event);
  QTreeWidget::mousePressEvent(event);
}

void ListView::mouseMoveEvent(QMouseEvent* event) {
  emit MouseMoved(event);
  QTreeWidget::mouseMoveEvent(event);
}

void ListView::mouseReleaseEvent(QMouseEvent* event) {
  emit MouseReleased(event);
  QTreeWidget::mouseReleaseEvent(event);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

void ListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == 0) {
    emit DeletePressed();
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

QItemSelectionModel::SelectionFlags ListView::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
  if (event != nullptr && event->type() == QEvent::MouseButtonRelease &&
      indexAt(static_cast<const QMouseEvent*>(event)->position().toPoint()) != pressedIndex_) {
    return QItemSelectionModel::NoUpdate;
  }
  return QTreeWidget::selectionCommand(index, event);
}

}  // namespace palomet
