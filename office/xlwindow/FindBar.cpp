#include "office/xlwindow/FindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QToolButton>

namespace palomet::xlwindow {

namespace {

bool Same(const CellSearch::Where& a, const CellSearch::Where& b) {
  return a.sheet == b.sheet && a.row == b.row && a.col == b.col;
}

}  // namespace

FindBar::FindBar(Book book, From from, QWidget* parent)
    : QWidget(parent), book_(std::move(book)), from_(std::move(from)) {
  setObjectName("FindBar");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 2, 4, 2);
  row->addWidget(new QLabel(tr("Find:"), this));
  text_ = new QLineEdit(this);
  text_->setObjectName("FindText");
  text_->setClearButtonEnabled(true);
  row->addWidget(text_, 1);
  auto* next = new QToolButton(this);
  next->setObjectName("FindNextButton");
  next->setText(tr("Next"));
  row->addWidget(next);
  matchCase_ = new QCheckBox(tr("Match case"), this);
  matchCase_->setObjectName("MatchCase");
  row->addWidget(matchCase_);
  status_ = new QLabel(this);
  status_->setObjectName("FindStatus");
  status_->setMinimumWidth(status_->fontMetrics().horizontalAdvance("M") * 24);
  row->addWidget(status_);
  auto* close = new QToolButton(this);
  close->setText(tr("Close"));
  row->addWidget(close);
  hide();
  // Typing searches from the current cell on, as the text grows; Enter goes to the next.
  connect(text_, &QLineEdit::textChanged, this, [this] { SearchTyped(); });
  connect(text_, &QLineEdit::returnPressed, this, [this] { FindNext(); });
  connect(matchCase_, &QCheckBox::toggled, this, [this] { SearchTyped(); });
  connect(next, &QToolButton::clicked, this, [this] { FindNext(); });
  connect(close, &QToolButton::clicked, this, [this] { Close(); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, this, [this] { Close(); });
  slice_.setSingleShot(true);
  slice_.setInterval(0);
  connect(&slice_, &QTimer::timeout, this, [this] { Slice(); });
}

void FindBar::Open() {
  show();
  text_->setFocus(Qt::ShortcutFocusReason);
  text_->selectAll();
}

void FindBar::Close() {
  search_.Stop();
  slice_.stop();
  typed_ = false;
  SetStatus({});
  hide();
  emit Closed();
}

void FindBar::FindNext() {
  if (!isVisible() || text_->text().isEmpty()) {
    Open();
    return;
  }
  // A search under way goes on; it already heads for the next match.
  if (search_.Current() == CellSearch::State::Searching) return;
  typed_ = false;  // what is typed next is looked for from the match this goes to
  bool hasCell = false;
  const CellSearch::Where from = from_(hasCell);
  Start(from, hasCell, false, false);
}

void FindBar::SearchTyped() {
  bool hasCell = false;
  const CellSearch::Where here = from_(hasCell);
  // Typing begins anew wherever the current cell was put by anything but this search: a
  // click, a key, Go To, Enter or F3.
  if (!typed_ || !hasCell || !Same(here, placed_)) {
    origin_ = here;
    originCell_ = hasCell;
    placed_ = here;
  }
  typed_ = true;
  Start(origin_, originCell_, true, true);
}

void FindBar::Start(CellSearch::Where from, bool hasCell, bool includeFrom, bool typed) {
  search_.Stop();
  slice_.stop();
  typing_ = typed;
  SetStatus({});
  const xl::Workbook* wb = book_();
  if (!wb || text_->text().isEmpty()) return;
  if (!from.sheet) from.sheet = wb->Sheet(1).Id();
  search_.Start(*wb, text_->text(), matchCase_->isChecked(), from, includeFrom || !hasCell);
  Slice();
}

void FindBar::Slice() {
  if (search_.Book() != book_()) search_.Stop();  // another workbook came
  // A slice takes a few milliseconds, short enough for the window, and a run that serves
  // its events, to go on as if no search were under way.
  switch (search_.Continue(std::chrono::milliseconds(8))) {
    case CellSearch::State::Searching:
      if (const xl::Worksheet* sheet = search_.SheetNow()) {
        SetStatus(tr("Searching %1…").arg(QString::fromStdString(sheet->Name())));
      }
      slice_.start();
      break;
    case CellSearch::State::Found: {
      const CellSearch::Where at = search_.Match();
      if (typing_) placed_ = at;
      SetStatus(search_.Wrapped() ? tr("Continued from the first sheet.") : QString());
      emit Found(at.sheet, at.row, at.col);
      break;
    }
    case CellSearch::State::NoMatch:
      SetStatus(tr("No match."));
      // A match of what was typed before no longer is one: back to where the typing began.
      if (typing_ && originCell_ && !Same(placed_, origin_)) {
        placed_ = origin_;
        emit Found(origin_.sheet, origin_.row, origin_.col);
      }
      break;
    case CellSearch::State::Idle:
      break;
  }
}

void FindBar::SetStatus(const QString& text) {
  if (status_->text() != text) status_->setText(text);
}

}  // namespace palomet::xlwindow
