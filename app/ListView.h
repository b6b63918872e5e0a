#pragma once

#include <QMouseEvent>
#include <QTreeWidget>

#include "filelist/FileList.h"

namespace palomet {

// The window's file list control: a one-column report list whose own items are
// the file list. Each item carries its entry id and the path exactly as given
// (bytes, so that names which are not valid UTF-8 survive); the column shows the
// path decoded for display. Single selection, no editing in place, no sorting.
// Pointer and double-click events, and the Delete key, are passed on as signals so
// that the window's commands can hang on them.
class ListView : public QTreeWidget, public FileList {
  Q_OBJECT

 public:
  explicit ListView(QWidget* parent = nullptr);

  int Count() const override;
  std::string Text(int position) const override;
  void SetText(int position, const std::string& text) override;
  void Add(const std::string& text) override;
  void Insert(int position, const std::string& text) override;
  void Remove(int position) override;
  EntryId Id(int position) const override;
  int PositionOf(EntryId id) const override;
  int SelectedIndex() const override;
  void Select(int position) override;

  // The item at a 1-based position, or null.
  QTreeWidgetItem* ItemAt(int position) const;

 signals:
  void MousePressed(QMouseEvent* event);
  void MouseMoved(QMouseEvent* event);
  void MouseReleased(QMouseEvent* event);
  void DoubleClicked();
  void DeletePressed();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // A release away from the pressed place leaves the selection alone: after an
  // entry has been dragged, the selection stays with the dragged path wherever the
  // button comes up. A click (press and release in one place) selects as usual.
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override;

 private:
  QTreeWidgetItem* At(int position) const;
  QTreeWidgetItem* MakeItem(const std::string& text);
  EntryId nextId_ = 1;
  QPersistentModelIndex pressedIndex_;  // under the last press
};

}  // namespace palomet
