#pragma once

// Reads a written .xlsx back with a real reader (python3-openpyxl) so tests check the
// file a user gets, not the in-memory model.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace palomet::test {

struct XlsxCell {
  std::string kind;    // s text, n number, d date, b boolean
  std::string value;   // as the reader prints it (backslashes, tabs and line breaks escaped)
  std::string format;  // the number format
  int row = 0, col = 0;
  std::string text;   // the value itself: text as a spreadsheet shows it, or ISO date-time
  double number = 0;  // for kind n
  bool bold = false;
};

struct XlsxSheet {
  std::string name;
  std::map<std::pair<int, int>, XlsxCell> cells;
  std::map<std::pair<int, int>, std::string> links;  // a cell's link to a place in the workbook
  std::map<int, double> widths;  // column -> width as the file holds it (set widths only)
  std::string freeze;            // the top-left cell of the scrolling pane, or ""
  std::string filter;            // the filter's range, or ""
  // The value at row, column, or "" when the cell is empty.
  std::string At(int row, int col) const {
    auto it = cells.find({row, col});
    return it == cells.end() ? std::string() : it->second.value;
  }
  int Rows() const {
    int n = 0;
    for (const auto& [rc, cell] : cells) n = std::max(n, rc.first);
    return n;
  }
  // The cells in row order, each row from left to right.
  std::vector<XlsxCell> InOrder() const {
    std::vector<XlsxCell> out;
    for (const auto& [rc, cell] : cells) out.push_back(cell);
    return out;
  }
};

struct XlsxBook {
  bool ok = false;
  std::string dump;    // the reader's whole output: equal dumps mean equal workbooks
  std::string active;  // the name of the active sheet
  std::vector<XlsxSheet> sheets;
  std::vector<std::string> SheetNames() const {
    std::vector<std::string> names;
    for (const auto& s : sheets) names.push_back(s.name);
    return names;
  }
  const XlsxSheet* Find(const std::string& name) const {
    for (const auto& s : sheets) {
      if (s.name == name) return &s;
    }
    return nullptr;
  }
};

// The reader: prints "#active<TAB>name", then each sheet, "#sheet<TAB>name", in tab order,
// then one line per non-empty cell, "row<TAB>col<TAB>kind<TAB>value<TAB>number format"; kind
// is s (text), n (number), d (date), b (boolean). A cell that links to a place in the
// workbook adds "#link<TAB>row<TAB>col<TAB>location" before it, a bold one "#bold<TAB>row<TAB>
// col"; a sheet's set column widths, frozen pane and filter follow its "#sheet" line as
// "#width<TAB>col<TAB>width", "#freeze<TAB>cell" and "#filter<TAB>range". Text is unescaped the way spreadsheets
// show it (_xHHHH_ stands for one character), which openpyxl leaves to its caller for
// inline strings. Backslash, tab, CR and LF are written as \\ \t \r \n.
// Kept here rather than in a file beside it so that no path has to be found at run time.
inline constexpr const char* kXlsxCellsScript = R"PY(
import datetime
import re
import sys

import openpyxl

ESC = re.compile(r"_x([0-9A-Fa-f]{4})_")


def esc(s):
    return (s.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


def main():
    wb = openpyxl.load_workbook(sys.argv[1])
    out = ["#active\t" + esc(wb.active.title)]
    for ws in wb.worksheets:
        out.append("#sheet\t" + esc(ws.title))
        for k, d in sorted(ws.column_dimensions.items()):
            if d.customWidth:
                out.append("#width\t%d\t%r" % (openpyxl.utils.column_index_from_string(k),
                                                 d.width))
        if ws.freeze_panes:
            out.append("#freeze\t" + ws.freeze_panes)
        if ws.auto_filter.ref:
            out.append("#filter\t" + ws.auto_filter.ref)
        # The cells the file holds, in row order: iterating the used range would visit every
        # empty cell of a sheet that reaches its last row and column.
        for _, c in sorted(ws._cells.items()):
            if c.hyperlink is not None:
                out.append("#link\t%d\t%d\t%s" % (c.row, c.column,
                                                   esc(c.hyperlink.location or "")))
            v = c.value
            if v is None:
                continue
            if c.font is not None and c.font.b:
                out.append("#bold\t%d\t%d" % (c.row, c.column))
            if isinstance(v, bool):
                kind, text = "b", str(v)
            elif isinstance(v, (int, float)):
                kind, text = "n", repr(v)
            elif isinstance(v, (datetime.datetime, datetime.date)):
                kind, text = "d", v.isoformat()
            else:
                kind, text = "s", ESC.sub(lambda m: chr(int(m.group(1), 16)), str(v))
            out.append("%d\t%d\t%s\t%s\t%s" % (c.row, c.column, kind, esc(text),
                                               esc(c.number_format)))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
)PY";

// The text the reader escaped: \\ \t \r \n back to themselves.
inline std::string Unescaped(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

// Reads `path` with openpyxl. Adds a test failure when the reader fails.
inline XlsxBook ReadXlsx(const std::string& path) {
  XlsxBook book;
  const auto script = std::filesystem::temp_directory_path() /
                      ("palomet-xlsx-cells-" + std::to_string(getpid()) + ".py");
  {
    std::ofstream out(script);
    out << kXlsxCellsScript;
  }
  const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot start " << command;
    return book;
  }
  char buffer[65536];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) book.dump.append(buffer, n);
  const int status = pclose(pipe);
  std::error_code ec;
  std::filesystem::remove(script, ec);
  if (status != 0) {
    ADD_FAILURE() << "reading " << path << " back failed:\n" << book.dump;
    return book;
  }
  std::istringstream lines(book.dump);
  std::string line;
  std::set<std::pair<int, int>> bold;  // of the current sheet
  while (std::getline(lines, line)) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
      const auto tab = line.find('\t', start);
      parts.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (parts.size() == 2 && parts[0] == "#active") {
      book.active = Unescaped(parts[1]);
    } else if (parts.size() == 2 && parts[0] == "#sheet") {
      book.sheets.push_back({Unescaped(parts[1]), {}, {}, {}, {}, {}});
      bold.clear();
    } else if (parts.size() == 3 && parts[0] == "#width" && !book.sheets.empty()) {
      book.sheets.back().widths[std::stoi(parts[1])] = std::stod(parts[2]);
    } else if (parts.size() == 2 && parts[0] == "#freeze" && !book.sheets.empty()) {
      book.sheets.back().freeze = parts[1];
    } else if (parts.size() == 2 && parts[0] == "#filter" && !book.sheets.empty()) {
      book.sheets.back().filter = parts[1];
    } else if (parts.size() == 3 && parts[0] == "#bold" && !book.sheets.empty()) {
      bold.insert({std::stoi(parts[1]), std::stoi(parts[2])});
    } else if (parts.size() == 4 && parts[0] == "#link" && !book.sheets.empty()) {
      book.sheets.back().links[{std::stoi(parts[1]), std::stoi(parts[2])}] = Unescaped(parts[3]);
    } else if (parts.size() == 5 && !book.sheets.empty()) {
      XlsxCell cell{parts[2], parts[3], Unescaped(parts[4])};
      cell.row = std::stoi(parts[0]);
      cell.col = std::stoi(parts[1]);
      cell.text = Unescaped(parts[3]);
      if (cell.kind == "n") cell.number = std::stod(parts[3]);
      cell.bold = bold.count({cell.row, cell.col}) > 0;
      book.sheets.back().cells[{cell.row, cell.col}] = cell;
    }
  }
  book.ok = true;
  return book;
}

}  // namespace palomet::test
