#include "office/xlwindow/SheetCopy.h"

#include <algorithm>
#include <bitset>
#include <string>

namespace palomet::xlwindow {

namespace {

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "<br>";
        break;
      case '\n': out += "<br>"; break;
      default: out += c;
    }
  }
}

// The number formats of the HTML cells, by class, so that a spreadsheet that pastes them
// keeps 12.50, 2024-06-01 and 007 as they show here instead of typing them anew. Classes
// keep each cell short: a copy of a million cells would otherwise carry the format a
// million times.
std::string HtmlStyle(const std::bitset<256>& decimals) {
  std::string style =
      "<style>td.t{mso-number-format:\"\\@\"}"
      " td.d{mso-number-format:\"yyyy-mm-dd\"}"
      " td.dt{mso-number-format:\"yyyy-mm-dd\\\"T\\\"hh:mm:ss\"}";
  for (std::size_t d = 0; d < decimals.size(); ++d) {
    if (!decimals[d]) continue;
    style += " td.n" + std::to_string(d) + "{mso-number-format:\"0" +
             (d ? "." + std::string(d, '0') : std::string()) + "\"}";
  }
  return style + "</style>";
}

void AppendHtmlCell(std::string& out, const xl::CellValue& v, std::string_view shown) {
  switch (v.type) {
    case xl::CellType::Empty:
      out += "<td></td>";
      return;
    case xl::CellType::Text:
      out += "<td class=t>";
      break;
    case xl::CellType::Date:
      out += "<td class=d align=right>";
      break;
    case xl::CellType::DateTime:
      out += "<td class=dt align=right>";
      break;
    case xl::CellType::Number:
      out += "<td class=n" + std::to_string(v.decimals) + " align=right>";
      break;
  }
  AppendHtmlEscaped(out, shown);
  out += "</td>";
}

}  // namespace

void AppendTsvField(std::string& out, std::string_view text) {
  if (text.find_first_of("\t\r\n\"") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

CopiedCells CopyCells(const xl::Worksheet& sheet, const std::vector<CellRect>& ranges,
                      const CopyLimits& limits) {
  CopiedCells out;
  if (ranges.empty()) return out;
  CellRect box = ranges.front();
  for (const CellRect& r : ranges) {
    box.top = std::min(box.top, r.top);
    box.left = std::min(box.left, r.left);
    box.bottom = std::max(box.bottom, r.bottom);
    box.right = std::max(box.right, r.right);
  }
  const auto usedRows = static_cast<int>(sheet.UsedRows());
  const auto usedColumns = static_cast<int>(sheet.UsedColumns());
  box.bottom = std::max(box.top, std::min(box.bottom, usedRows - 1));
  box.right = std::max(box.left, std::min(box.right, usedColumns - 1));
  const bool single = ranges.size() == 1;
  const auto selected = [&](int row, int col) {
    if (single) return true;
    return std::any_of(ranges.begin(), ranges.end(), [&](const CellRect& r) {
      return row >= r.top && row <= r.bottom && col >= r.left && col <= r.right;
    });
  };

  out.rows = box.bottom - box.top + 1;
  const std::size_t width = static_cast<std::size_t>(box.right - box.left + 1);
  std::string text;
  std::string html;  // the table's rows; the head, which names the formats used, comes last
  std::bitset<256> decimals;
  std::string shown;
  for (int row = box.top; row <= box.bottom; ++row) {
    if (out.cellsCopied + width > limits.cells) break;
    const std::size_t textMark = text.size();
    const std::size_t htmlMark = html.size();
    html += "<tr>";
    bool full = false;
    for (int col = box.left; col <= box.right; ++col) {
      const xl::CellValue v = selected(row, col) ? sheet.Cell(row + 1, col + 1) : xl::CellValue{};
      std::string_view view;
      if (v.type == xl::CellType::Text) {
        view = v.text;
      } else if (v.type != xl::CellType::Empty) {
        shown = v.DisplayText();
        view = shown;
      }
      if (col > box.left) text += '\t';
      AppendTsvField(text, view);
      AppendHtmlCell(html, v, view);
      if (v.type == xl::CellType::Number) decimals.set(v.decimals);
      if (text.size() + html.size() > limits.bytes) {
        full = true;
        break;
      }
    }
    if (full) {
      // The row that does not fit is left out whole.
      text.resize(textMark);
      html.resize(htmlMark);
      break;
    }
    text += '\n';
    html += "</tr>\n";
    out.cellsCopied += width;
    ++out.rowsCopied;
  }
  out.text = QString::fromStdString(text);
  out.html = QString::fromStdString("<html><head><meta charset=\"utf-8\">" + HtmlStyle(decimals) +
                                    "</head><body><table>\n" + html + "</table></body></html>\n");
  return out;
}

}  // namespace palomet::xlwindow
