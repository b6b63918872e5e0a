#include "office/xlwindow/CellSearch.h"

#include <algorithm>

#include "office/CaseFold.h"

namespace palomet::xlwindow {

namespace {

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

}  // namespace

void CellSearch::Start(const xl::Workbook& wb, const QString& needle, bool matchCase, Where from,
                       bool includeFrom) {
  wb_ = &wb;
  needleUtf8_ = needle.toStdString();
  needleFolded_ = UnicodeFold(needleUtf8_);
  matchCase_ = matchCase;
  start_ = from;
  if (!includeFrom) ++start_.col;  // past the sheet's last column it reads on at the next row
  at_ = start_;
  index_ = 1;
  moves_ = 0;
  back_ = false;
  wrapped_ = false;
  state_ = needle.isEmpty() ? State::Idle : State::Searching;
  if (state_ == State::Searching && !Locate()) Enter(1);  // the sheet is gone: begin at the first
}

const xl::Worksheet* CellSearch::Locate() {
  const long count = wb_->SheetCount();
  if (index_ >= 1 && index_ <= count && wb_->Sheet(index_).Id() == at_.sheet) {
    return &wb_->Sheet(index_);
  }
  for (long i = 1; i <= count; ++i) {
    if (wb_->Sheet(i).Id() == at_.sheet) {
      index_ = i;
      return &wb_->Sheet(i);
    }
  }
  return nullptr;
}

const xl::Worksheet* CellSearch::SheetNow() const {
  if (!wb_ || index_ < 1 || index_ > wb_->SheetCount()) return nullptr;
  const xl::Worksheet& s = wb_->Sheet(index_);
  return s.Id() == at_.sheet ? &s : nullptr;
}

void CellSearch::Enter(long index) {
  const long count = wb_->SheetCount();
  if (index > count) {
    index = 1;
    wrapped_ = true;
  }
  index_ = index;
  ++moves_;
  const xl::Worksheet& s = wb_->Sheet(index);
  at_ = Where{s.Id(), 1, 1};
  // Back on the sheet where it began, the search ends at the cell where it began. When that
  // sheet was deleted meanwhile, it ends once it has moved on as often as there are sheets.
  back_ = s.Id() == start_.sheet;
  if (!back_ && moves_ > count) state_ = State::NoMatch;
}

CellSearch::State CellSearch::Continue(std::chrono::nanoseconds budget) {
  if (state_ != State::Searching) return state_;
  const auto deadline = std::chrono::steady_clock::now() + budget;
  unsigned read = 0;
  while (state_ == State::Searching) {
    const xl::Worksheet* sheet = Locate();
    if (!sheet) {
      Enter(index_);  // deleted: the sheet that took its place comes next
      continue;
    }
    const std::int64_t rows = sheet->UsedRows();
    const std::int64_t cols = sheet->UsedColumns();
    while (at_.row <= rows) {
      if (back_ && (at_.row > start_.row || (at_.row == start_.row && at_.col >= start_.col))) {
        state_ = State::NoMatch;
        return state_;
      }
      if (at_.col > cols) {
        ++at_.row;
        at_.col = 1;
        continue;
      }
      const xl::CellValue v = sheet->Cell(at_.row, at_.col);
      if (v.type != xl::CellType::Empty && Matches(v)) {
        match_ = at_;
        state_ = State::Found;
        return state_;
      }
      ++at_.col;
      if ((++read & 1023) == 0 && std::chrono::steady_clock::now() >= deadline) return state_;
    }
    if (back_) {
      state_ = State::NoMatch;
    } else {
      Enter(index_ + 1);
    }
  }
  return state_;
}

bool CellSearch::Matches(const xl::CellValue& v) const {
  if (v.type == xl::CellType::Text) return MatchesText(v.text);
  return MatchesText(v.DisplayText());
}

bool CellSearch::MatchesText(std::string_view text) const {
  // Exact case: UTF-8 holds a text inside another exactly where its bytes are inside.
  if (matchCase_) return text.find(needleUtf8_) != std::string_view::npos;
  // Without case, as sheet names are compared: both sides case-folded (the Kelvin sign
  // finds a k). An ASCII text folds byte by byte, without a copy.
  if (IsAscii(text)) {
    return std::search(text.begin(), text.end(), needleFolded_.begin(), needleFolded_.end(),
                       [](char a, char b) { return AsciiLower(a) == b; }) != text.end();
  }
  return UnicodeFold(text).find(needleFolded_) != std::string::npos;
}

}  // namespace palomet::xlwindow
