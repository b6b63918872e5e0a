#pragma once

// Reads a written .xlsx back with a real reader (python3-openpyxl, through
// xlsx_cells.py) so tests check the file a user gets, not the in-memory model.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace palomet::test {

struct XlsxCell {
  std::string kind;    // s text, n number, d date, b boolean
  std::string value;   // as xlsx_cells.py writes it (tabs and line breaks escaped)
  std::string format;  // the number format
};

struct XlsxSheet {
  std::string name;
  std::map<std::pair<int, int>, XlsxCell> cells;
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
};

struct XlsxBook {
  bool ok = false;
  std::string dump;  // the reader's whole output: equal dumps mean equal workbooks
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

// Reads `path` with xlsx_cells.py (beside this header). Adds a test failure when the
// reader fails.
inline XlsxBook ReadXlsx(const std::string& path) {
  XlsxBook book;
  const std::string script =
      (std::filesystem::path(__FILE__).parent_path() / "xlsx_cells.py").string();
  const std::string command = "/usr/bin/python3 '" + script + "' '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot start " << command;
    return book;
  }
  char buffer[65536];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) book.dump.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0) {
    ADD_FAILURE() << "reading " << path << " back failed:\n" << book.dump;
    return book;
  }
  std::istringstream lines(book.dump);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
      const auto tab = line.find('\t', start);
      parts.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (parts.size() == 2 && parts[0] == "#sheet") {
      book.sheets.push_back({parts[1], {}});
    } else if (parts.size() == 5 && !book.sheets.empty()) {
      book.sheets.back().cells[{std::stoi(parts[0]), std::stoi(parts[1])}] = {parts[2], parts[3],
                                                                              parts[4]};
    }
  }
  book.ok = true;
  return book;
}

}  // namespace palomet::test
