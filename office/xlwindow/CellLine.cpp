#include "office/xlwindow/CellLine.h"

#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <algorithm>

#include "office/Numbers.h"
#include "office/xl/LongValues.h"
#include "office/xlwindow/SheetModel.h"

namespace palomet::xlwindow {

namespace {

QString Count(std::int64_t n) {
  return QString::fromStdString(WithThousands(n));
}

}  // namespace

CellLine::CellLine(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 0, 2, 0);
  address_ = new QLineEdit(this);
  address_->setObjectName("CellAddress");
  address_->setToolTip(
      tr("Type a cell's address or a range, such as B7, C3:E5 or Customer!C10, and press Enter"));
  address_->setFixedWidth(address_->fontMetrics().horizontalAdvance("'Long texts'!XFD1") + 16);
  address_->installEventFilter(this);
  // Reached by a click or F5, as a spreadsheet's address box; Tab goes among the grid's
  // neighbours, and the window opens with the keys on the grid.
  address_->setFocusPolicy(Qt::ClickFocus);
  value_ = new QPlainTextEdit(this);
  value_->setObjectName("ValueLine");
  value_->setReadOnly(true);
  value_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  value_->setTabChangesFocus(true);
  value_->setFocusPolicy(Qt::ClickFocus);
  value_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  note_ = new QLabel(this);
  note_->setObjectName("ValueNote");
  note_->hide();
  connect(value_->document()->documentLayout(),
          &QAbstractTextDocumentLayout::documentSizeChanged, this, [this] { FitValueLine(); });
  connect(address_, &QLineEdit::returnPressed, this, [this] {
    const QString typed = address_->text();
    address_->setText(addressShown_);
    emit GoToTyped(typed);
    emit AddressDone();
  });
  row->addWidget(address_, 0, Qt::AlignTop);
  row->addWidget(value_, 1);
  row->addWidget(note_, 0, Qt::AlignTop);
  FitValueLine();
}

bool CellLine::eventFilter(QObject* watched, QEvent* event) {
  if (watched == address_) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      address_->setText(addressShown_);
      emit AddressDone();
      return true;
    }
    // Typed but not gone to: the box shows the current cell again.
    if (event->type() == QEvent::FocusOut) address_->setText(addressShown_);
  }
  return QWidget::eventFilter(watched, event);
}

void CellLine::EditAddress() {
  address_->setFocus(Qt::ShortcutFocusReason);
  address_->selectAll();
}

void CellLine::Show(const xl::Worksheet* sheet, int row, int col) {
  const QString address = sheet ? CellName(row, col) : QString();
  if (address != addressShown_) {
    addressShown_ = address;
    // What the user is typing stays until Enter, Escape or leaving the box.
    if (!address_->hasFocus()) address_->setText(address);
  }
  if (!sheet) {
    read_ = {};
    SetValue({}, {});
    return;
  }
  const Read now{sheet->Id(), sheet->Revision(), row, col};
  // Read once while the cell stays as it is: the run writes a kept value's row whole, with
  // the link, between two of its yields.
  if (now.sheet == read_.sheet && now.revision == read_.revision && now.row == read_.row &&
      now.col == read_.col) {
    return;
  }
  read_ = now;
  if (!sheet->Hyperlinks().empty()) {
    if (const auto kept = xl::ReadKeptValue(*sheet, row + 1, col + 1, kMostShownBytes)) {
      const QString text = QString::fromStdString(kept->text);
      const std::int64_t held = xl::TextLength(sheet->Cell(row + 1, col + 1).text);
      QString note = tr("The cell holds only the first %1 of %2 characters.")
                         .arg(Count(held), Count(kept->length));
      if (!kept->whole) note += ' ' + tr("Shown here: the first %1.").arg(Count(text.size()));
      SetValue(text, note);
      return;
    }
  }
  SetValue(ShownText(sheet->Cell(row + 1, col + 1)), {});
}

void CellLine::SetValue(const QString& value, const QString& note) {
  // Setting the same text again would drop what the user selected in it.
  if (value != valueShown_ || value_->document()->isEmpty() != value.isEmpty()) {
    valueShown_ = value;
    value_->setPlainText(value);
  }
  note_->setText(note);
  note_->setVisible(!note.isEmpty());
}

void CellLine::FitValueLine() {
  // One line high, growing with a value of several lines up to four; more scrolls.
  const int lines = std::clamp(
      static_cast<int>(value_->document()->documentLayout()->documentSize().height()), 1, 4);
  const QMargins m = value_->contentsMargins();
  const int height = lines * value_->fontMetrics().lineSpacing() +
                     2 * static_cast<int>(value_->document()->documentMargin()) + m.top() +
                     m.bottom();
  if (value_->height() != height) value_->setFixedHeight(height);
  address_->setFixedHeight(address_->sizeHint().height());
}

}  // namespace palomet::xlwindow
