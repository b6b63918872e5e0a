#pragma once

// What Copy puts on the clipboard for a selection of a sheet's cells: tab-separated text
// and an HTML table, each cell in its shown form.

#include <QString>
#include <cstddef>
#include <vector>

#include "office/xl/Excel.h"

namespace palomet::xlwindow {

// A rectangle of cells, 0-based and inclusive, as the grid's selection ranges give them.
struct CellRect {
  int top = 0;
  int left = 0;
  int bottom = 0;
  int right = 0;
};

// How much one copy may hold. Copy is one command that runs to its end, and reading the
// cells takes most of its time: under 1 µs a cell on a sheet of 2.9 million cells, on a
// loaded 2-core machine (bench/xlwindow), so at these limits it is done within half a
// second. The clipboard holds both forms in memory, and the application that pastes parses
// them again, which for an HTML table of a million cells takes many seconds. A copy stops
// at whole rows once either limit would be passed.
struct CopyLimits {
  std::size_t cells = 500'000;
  std::size_t bytes = 32u << 20;  // UTF-8 bytes of the text and the HTML together
};

struct CopiedCells {
  QString text;  // tab-separated, each row ending in a newline
  QString html;  // a table of the same cells
  // The rows of the selection's rectangle (after trimming what lies past the sheet's last
  // used row and column) and how many of them the copy holds.
  std::int64_t rows = 0;
  std::int64_t rowsCopied = 0;
  std::size_t cellsCopied = 0;
  bool Capped() const { return rowsCopied < rows; }
};

// The cells of `ranges` on `sheet`. Several ranges copy as their bounding rectangle, with
// the cells that none of them holds left empty. Rows and columns past the sheet's last used
// ones are left out (a selected whole column would otherwise copy as a million empty rows),
// but the rectangle keeps at least its first row and column.
CopiedCells CopyCells(const xl::Worksheet& sheet, const std::vector<CellRect>& ranges,
                      const CopyLimits& limits = {});

// One cell's text as a field of tab-separated text: quoted, with its quotes doubled, when it
// holds a tab, a line break or a quote, as spreadsheets quote what they paste.
void AppendTsvField(std::string& out, std::string_view text);

}  // namespace palomet::xlwindow
