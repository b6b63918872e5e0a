#pragma once

// Searching a workbook's cells as they show, a slice at a time, so that the window serves
// its events (and a run goes on writing) between slices however many cells there are.

#include <QString>
#include <chrono>
#include <cstdint>
#include <string>

#include "office/xl/Excel.h"

namespace palomet::xlwindow {

class CellSearch {
 public:
  enum class State { Idle, Searching, Found, NoMatch };

  struct Where {
    std::uint64_t sheet = 0;  // the sheet's id
    std::int64_t row = 1;     // 1-based
    std::int64_t col = 1;
  };

  // Starts a search for `needle` (ignoring letter case unless `matchCase`) at `from` on
  // `wb`: at that cell itself when `includeFrom`, else at the one after it. Cells are read
  // row by row, left to right, to the end of the sheet, then sheet after sheet in tab order,
  // on from the first sheet after the last, back to where the search began.
  void Start(const xl::Workbook& wb, const QString& needle, bool matchCase, Where from,
             bool includeFrom);
  // Reads cells for about `budget`, or until a match or the end; cells written meanwhile,
  // and sheets added, are searched when the search reaches them.
  State Continue(std::chrono::nanoseconds budget);
  void Stop() { state_ = State::Idle; }

  State Current() const { return state_; }
  // The match, once Found.
  Where Match() const { return match_; }
  // True once the search went on from the last sheet to the first.
  bool Wrapped() const { return wrapped_; }
  const xl::Workbook* Book() const { return wb_; }
  // The sheet being read while Searching.
  const xl::Worksheet* SheetNow() const;

 private:
  bool Matches(const xl::CellValue& v) const;
  bool MatchesText(std::string_view text) const;
  // The sheet of the current position, found by its id, or nullptr when it is gone.
  const xl::Worksheet* Locate();
  // Moves to the first cell of the sheet at 1-based `index` (the first sheet after the last).
  void Enter(long index);

  const xl::Workbook* wb_ = nullptr;
  State state_ = State::Idle;
  std::string needleUtf8_;
  std::string needleFolded_;  // case-folded, as UnicodeFold folds
  bool matchCase_ = false;

  Where start_;        // where the search began
  Where at_;           // the next cell to read
  long index_ = 1;     // the current sheet's position when last seen
  long moves_ = 0;     // sheets moved on since the start
  bool back_ = false;  // back on the sheet where it began: stop at the start
  bool wrapped_ = false;
  Where match_;
};

}  // namespace palomet::xlwindow
