#pragma once

// Reads a saved workbook back through a real reader (openpyxl) for the tests.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace palomet::test {

struct ReadCell {
  int row, col;
  std::string kind;    // "s" text, "n" number, "d" date
  std::string format;  // number format as the reader reports it
  std::string text;    // text, or ISO date-time
  double number = 0;
  bool bold = false;
};
struct ReadSheet {
  std::string name;
  std::vector<ReadCell> cells;
  std::map<int, double> widths;  // column -> width as the file holds it
  std::string freeze;            // the top-left cell of the scrolling pane, or ""
  std::string filter;            // the filter's range, or ""
};
struct ReadBook {
  std::string active;
  std::vector<ReadSheet> sheets;
  bool ok = false;
  std::string error;
};

inline ReadBook ReadXlsx(const std::string& path) {
  ReadBook book;
  const std::string cmd = "/usr/bin/python3 '" PALOMET_READ_XLSX "' '" + path + "' 2>&1";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[65536];
  for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = p ? ::pclose(p) : -1;
  if (rc != 0) {
    book.error = out;
    return book;
  }
  const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
  book.active = root["active"].toString().toStdString();
  for (const auto& s : root["sheets"].toArray()) {
    ReadSheet sheet;
    sheet.name = s.toObject()["name"].toString().toStdString();
    for (const auto& c : s.toObject()["cells"].toArray()) {
      const QJsonArray a = c.toArray();
      ReadCell cell{a[0].toInt(),
                    a[1].toInt(),
                    a[2].toString().toStdString(),
                    a[3].toString().toStdString(),
                    {},
                    0,
                    a[5].toBool()};
      if (a[4].isDouble()) {
        cell.number = a[4].toDouble();
      } else {
        cell.text = a[4].toString().toStdString();
      }
      sheet.cells.push_back(cell);
    }
    const QJsonObject widths = s.toObject()["widths"].toObject();
    for (auto it = widths.begin(); it != widths.end(); ++it) {
      sheet.widths[it.key().toInt()] = it.value().toDouble();
    }
    sheet.freeze = s.toObject()["freeze"].toString().toStdString();
    sheet.filter = s.toObject()["filter"].toString().toStdString();
    book.sheets.push_back(sheet);
  }
  book.ok = true;
  return book;
}

}  // namespace palomet::test
