#include "office/xl/XlsxWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ctime>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "office/CaseFold.h"
#include "office/Error.h"
#include "office/KillPoint.h"
#include "office/SafeReplace.h"
#include "office/xl/CellStore.h"
#include "office/xl/Excel.h"
#include "office/xl/PackageZip.h"
#include "office/xl/XmlText.h"

namespace palomet::xl::detail {
namespace {

constexpr std::string_view kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kPkgRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";

[[noreturn]] void SaveFailed(const std::string& shown, const std::string& why) {
  throw Error(errnum::kSpreadsheet, "Cannot save the workbook as \"" + shown + "\": " + why + ".");
}

// The cell formats (number format and font) in the order cells first use them: the order
// decides each format's style index, each number format's id and each font's id, as it
// would in any writer that adds formats as it meets them.
class Styles {
 public:
  // The style index for a typed cell (1-based; 0 is the default style).
  unsigned IndexFor(std::uint8_t type, std::uint8_t decimals, bool bold) {
    std::array<std::uint16_t, 2>& slots =
        type == static_cast<std::uint8_t>(CellType::Number) ? numbers_[decimals]
        : type == static_cast<std::uint8_t>(CellType::Date) ? date_
                                                            : dateTime_;
    std::uint16_t& slot = slots[bold ? 1 : 0];
    if (slot == 0) slot = Add(NumberFormatFor(type, decimals), bold ? kBold : kPlain);
    return slot;
  }

  // The style index of a text cell: 0, or a bold one.
  unsigned TextIndex(bool bold) {
    if (!bold) return 0;
    if (boldText_ == 0) boldText_ = Add({}, kBold);
    return boldText_;
  }

  // The style index of a text cell that links elsewhere: underlined in the theme's
  // hyperlink colour, as spreadsheets show links (built on the Hyperlink cell style), or
  // the same in bold.
  unsigned LinkIndex(bool bold) {
    std::uint16_t& slot = bold ? boldLink_ : link_;
    if (slot == 0) slot = Add({}, bold ? kBoldLink : kLink);
    return slot;
  }

  void Write(PackageZip& zip) const {
    // Number format ids from 164 on and font ids from 1 on, in the order of the formats.
    std::vector<std::string> codes;
    std::vector<std::size_t> formatIds;
    std::array<int, 4> fontIds{0, -1, -1, -1};
    std::vector<Font> fonts{kPlain};
    for (const Entry& e : entries_) {
      std::size_t id = 0;
      if (!e.code.empty()) {
        const auto at = std::find(codes.begin(), codes.end(), e.code);
        id = 164 + static_cast<std::size_t>(at - codes.begin());
        if (at == codes.end()) codes.push_back(e.code);
      }
      formatIds.push_back(id);
      if (fontIds[e.font] < 0) {
        fontIds[e.font] = static_cast<int>(fonts.size());
        fonts.push_back(e.font);
      }
    }
    std::string& out = zip.Out();
    out += kXmlDecl;
    out += "<styleSheet xmlns=\"";
    out += kMainNs;
    out += "\">";
    if (!codes.empty()) {
      out += "<numFmts count=\"" + std::to_string(codes.size()) + "\">";
      for (std::size_t i = 0; i < codes.size(); ++i) {
        out += "<numFmt numFmtId=\"" + std::to_string(164 + i) + "\" formatCode=\"";
        AppendEscaped(out, codes[i], true);
        out += "\"/>";
      }
      out += "</numFmts>";
    }
    out += "<fonts count=\"" + std::to_string(fonts.size()) + "\">";
    for (const Font f : fonts) {
      out += "<font>";
      if (f == kBold || f == kBoldLink) out += "<b/>";
      if (f == kLink || f == kBoldLink) out += "<u/>";
      out += f == kLink || f == kBoldLink ? "<sz val=\"11\"/><color theme=\"10\"/>"
                                          : "<sz val=\"11\"/><color theme=\"1\"/>";
      out += "<name val=\"Calibri\"/><family val=\"2\"/>";
      if (f != kLink) out += "<scheme val=\"minor\"/>";
      out += "</font>";
    }
    out +=
        "</fonts><fills count=\"2\"><fill>"
        "<patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/>"
        "</fill></fills><borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/>"
        "</border></borders>";
    out += link_ != 0 ? "<cellStyleXfs count=\"2\">" : "<cellStyleXfs count=\"1\">";
    out += "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>";
    if (link_ != 0) {
      out += "<xf numFmtId=\"0\" fontId=\"" + std::to_string(fontIds[kLink]) +
             "\" fillId=\"0\" borderId=\"0\" applyNumberFormat=\"0\" "
             "applyFill=\"0\" applyBorder=\"0\" applyAlignment=\"0\" applyProtection=\"0\">"
             "<alignment vertical=\"top\"/><protection locked=\"0\"/></xf>";
    }
    out += "</cellStyleXfs><cellXfs count=\"" + std::to_string(entries_.size() + 1) + "\">";
    out += "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      out += "<xf numFmtId=\"" + std::to_string(formatIds[i]) + "\" fontId=\"" +
             std::to_string(fontIds[e.font]) + "\" fillId=\"0\" borderId=\"0\" xfId=\"";
      if (e.font == kLink) {
        out += "1\" applyAlignment=\"1\" applyProtection=\"1\"/>";
        continue;
      }
      out += '0';
      if (formatIds[i] != 0) out += "\" applyNumberFormat=\"1";
      if (e.font != kPlain) out += "\" applyFont=\"1";
      out += "\"/>";
    }
    out += link_ != 0 ? "</cellXfs><cellStyles count=\"2\"><cellStyle name=\"Hyperlink\" "
                        "xfId=\"1\" builtinId=\"8\"/>"
                      : "</cellXfs><cellStyles count=\"1\">";
    out +=
        "<cellStyle name=\"Normal\" xfId=\"0\" "
        "builtinId=\"0\"/></cellStyles><dxfs count=\"0\"/><tableStyles count=\"0\" "
        "defaultTableStyle=\"TableStyleMedium9\" defaultPivotStyle=\"PivotStyleLight16\"/>"
        "</styleSheet>";
  }

 private:
  enum Font : std::uint8_t { kPlain, kBold, kLink, kBoldLink };
  struct Entry {
    std::string code;  // the number format; empty for text
    Font font;
  };

  std::uint16_t Add(std::string code, Font font) {
    entries_.push_back({std::move(code), font});
    return static_cast<std::uint16_t>(entries_.size());
  }

  // Style indexes, 0 while unused; [0] plain, [1] bold.
  std::array<std::array<std::uint16_t, 2>, kMaxDecimals + 1> numbers_{};
  std::array<std::uint16_t, 2> date_{};
  std::array<std::uint16_t, 2> dateTime_{};
  std::uint16_t boldText_ = 0;
  std::uint16_t link_ = 0;
  std::uint16_t boldLink_ = 0;
  std::vector<Entry> entries_;
};

// What a sheet's XML can grow to at most: every cell in a row of its own, with the longest
// reference and style, and each byte of text spelled out (_x0001_ is seven bytes for one).
std::uint64_t SheetXmlBound(const Worksheet& sheet) {
  return 4096 + std::uint64_t{sheet.CellCount()} * 128 + std::uint64_t{sheet.TextBytes()} * 7;
}

// "A1" or "A1:C9"; with `absolute`, "$A$1:$C$9".
void AppendRange(std::string& out, const Worksheet::Range& r, bool absolute) {
  auto cell = [&](std::int64_t row, std::int64_t col) {
    if (absolute) out += '$';
    AppendColumn(out, static_cast<unsigned>(col - 1));
    if (absolute) out += '$';
    AppendInt(out, row);
  };
  cell(r.firstRow, r.firstCol);
  if (r.firstRow == r.lastRow && r.firstCol == r.lastCol) return;
  out += ':';
  cell(r.lastRow, r.lastCol);
}

// The column widths that differ from the default. The file holds a width in characters
// plus the cell's padding (5 pixels of a 7-pixel digit), in 1/256 of a character.
void AppendColumnWidths(std::string& out, const Worksheet& sheet) {
  bool any = false;
  const std::int64_t columns = sheet.SizedColumns();
  for (std::int64_t col = 1; col <= columns; ++col) {
    const double width = sheet.ColumnWidth(col);
    if (width <= 0) continue;
    out += any ? "<col min=\"" : "<cols><col min=\"";
    any = true;
    AppendInt(out, col);
    out += "\" max=\"";
    AppendInt(out, col);
    out += "\" width=\"";
    constexpr double kDigit = 7, kPadding = 5;
    const double inFile =
        static_cast<int>((static_cast<int>(width * kDigit + 0.5) + kPadding) / kDigit * 256.0) / 256.0;
    AppendNumber(out, inFile);
    out += "\" customWidth=\"1\"/>";
  }
  if (any) out += "</cols>";
}

// Counts the cells written and tells the caller every so often.
struct Progress {
  const std::function<void(std::uint64_t, std::uint64_t)>& tell;
  std::uint64_t total = 0;
  std::uint64_t done = 0;
  std::uint64_t told = 0;
  void Cell() {
    if (++done - told >= (std::uint64_t{1} << 16)) Tell();
  }
  void Tell() {
    told = done;
    if (tell) tell(done, total);
  }
};

void WriteSheet(PackageZip& zip, const Worksheet& sheet, std::size_t number, bool active,
                Styles& styles, Progress& progress) {
  zip.BeginPart("xl/worksheets/sheet" + std::to_string(number) + ".xml",
                SheetXmlBound(sheet) >= PackageZip::kZip64From);
  std::string& out = zip.Out();
  out += kXmlDecl;
  out += "<worksheet xmlns=\"";
  out += kMainNs;
  out += "\" xmlns:r=\"";
  out += kRelNs;
  out += "\"><dimension ref=\"";
  if (sheet.IsEmpty()) {
    out += "A1";
  } else {
    const auto r0 = sheet.FirstUsedRow(), c0 = sheet.FirstUsedColumn();
    const auto r1 = sheet.UsedRows(), c1 = sheet.UsedColumns();
    AppendColumn(out, static_cast<unsigned>(c0 - 1));
    AppendInt(out, r0);
    if (r0 != r1 || c0 != c1) {
      out += ':';
      AppendColumn(out, static_cast<unsigned>(c1 - 1));
      AppendInt(out, r1);
    }
  }
  out += active ? "\"/><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\""
                : "\"/><sheetViews><sheetView workbookViewId=\"0\"";
  if (const std::int64_t frozen = sheet.FrozenRows(); frozen > 0) {
    out += "><pane ySplit=\"";
    AppendInt(out, frozen);
    out += "\" topLeftCell=\"A";
    AppendInt(out, frozen + 1);
    out += "\" activePane=\"bottomLeft\" state=\"frozen\"/><selection pane=\"bottomLeft\"/>"
           "</sheetView>";
  } else {
    out += "/>";
  }
  out += "</sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
  AppendColumnWidths(out, sheet);
  if (sheet.IsEmpty()) {
    out += "<sheetData/>";
  } else {
    out += "<sheetData>";
    std::int64_t row = -1;
    char rowText[16];
    std::size_t rowLen = 0;
    std::string escaped;
    // The cells that link elsewhere (few: a set is cheap, and empty for most sheets).
    std::unordered_set<std::uint64_t> linked;
    // The bold rows, met in order as the rows are.
    const std::vector<std::int64_t>& boldRows = sheet.BoldRows();
    auto nextBold = boldRows.begin();
    bool bold = false;
    for (const auto& link : sheet.Hyperlinks()) {
      linked.insert(Key(static_cast<std::uint32_t>(link.row - 1),
                        static_cast<std::uint16_t>(link.col - 1)));
    }
    sheet.ForEachCell([&](const CellRec& rec, std::string_view text) {
      std::string& o = zip.Out();
      if (rec.row != row) {
        if (row >= 0) o += "</row>";
        row = rec.row;
        while (nextBold != boldRows.end() && *nextBold < row + 1) ++nextBold;
        bold = nextBold != boldRows.end() && *nextBold == row + 1;
        rowLen = static_cast<std::size_t>(std::to_chars(rowText, rowText + sizeof rowText, row + 1).ptr - rowText);
        o += "<row r=\"";
        o.append(rowText, rowLen);
        o += "\">";
      }
      o += "<c r=\"";
      AppendColumn(o, rec.col);
      o.append(rowText, rowLen);
      if (rec.type == static_cast<std::uint8_t>(CellType::Text)) {
        escaped.clear();
        EscapeForXlsx(text, escaped);
        const char first = escaped.empty() ? 'x' : escaped.front();
        const char last = escaped.empty() ? 'x' : escaped.back();
        // White space at either end is kept only when the text says so (a CR too: the
        // writer gives it as a character reference, which reads back as white space).
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        const unsigned style = !linked.empty() && linked.count(Key(rec)) ? styles.LinkIndex(bold)
                                                                         : styles.TextIndex(bold);
        if (style != 0) {
          o += "\" s=\"";
          AppendInt(o, style);
        }
        o += blank(first) || blank(last) ? "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                         : "\" t=\"inlineStr\"><is><t>";
        AppendCellText(o, escaped);
        o += "</t></is></c>";
      } else {
        o += "\" s=\"";
        AppendInt(o, styles.IndexFor(rec.type, rec.decimals, bold));
        o += "\"><v>";
        AppendNumber(o, rec.number);
        o += "</v></c>";
      }
      zip.Filled();
      progress.Cell();
    });
    zip.Out() += "</row></sheetData>";
  }
  if (const Worksheet::Range* filter = sheet.AutoFilter()) {
    std::string& o = zip.Out();
    o += "<autoFilter ref=\"";
    AppendRange(o, *filter, false);
    o += "\"/>";
  }
  if (!sheet.Hyperlinks().empty()) {
    // Links to places in the workbook need no relationship: the place is the location.
    std::string& o = zip.Out();
    o += "<hyperlinks>";
    for (const auto& link : sheet.Hyperlinks()) {
      o += "<hyperlink ref=\"";
      AppendColumn(o, static_cast<unsigned>(link.col - 1));
      AppendInt(o, link.row);
      // No display text: the cell shows its own, which may be a whole cell's worth.
      o += "\" location=\"";
      AppendEscaped(o, link.location, true);
      o += "\"/>";
    }
    o += "</hyperlinks>";
  }
  zip.Out() +=
      "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
      "footer=\"0.3\"/></worksheet>";
  zip.EndPart();
  progress.Tell();
}

void WritePart(PackageZip& zip, const std::string& name, std::string_view text) {
  zip.BeginPart(name);
  zip.Append(text);
  zip.EndPart();
}

// The package's directory parts name every sheet; with thousands of sheets they run to
// megabytes, so they go to the package a few entries at a time, as the sheets do, rather
// than being made whole first.

void ContentTypes(PackageZip& zip, std::size_t sheets) {
  const std::string pre = "application/vnd.openxmlformats-officedocument.";
  zip.Out() += kXmlDecl;
  zip.Out() +=
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package."
      "relationships+xml\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>";
  auto over = [&](const std::string& part, const std::string& type) {
    zip.Out() += "<Override PartName=\"" + part + "\" ContentType=\"" + type + "\"/>";
    zip.Filled();
  };
  over("/docProps/app.xml", pre + "extended-properties+xml");
  over("/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml");
  over("/xl/styles.xml", pre + "spreadsheetml.styles+xml");
  over("/xl/theme/theme1.xml", pre + "theme+xml");
  over("/xl/workbook.xml", pre + "spreadsheetml.sheet.main+xml");
  for (std::size_t i = 1; i <= sheets; ++i) {
    over("/xl/worksheets/sheet" + std::to_string(i) + ".xml", pre + "spreadsheetml.worksheet+xml");
  }
  over("/xl/sharedStrings.xml", pre + "spreadsheetml.sharedStrings+xml");
  zip.Out() += "</Types>";
}

std::string SharedStringsXml() {
  std::string out(kXmlDecl);
  out += "<sst xmlns=\"" + std::string(kMainNs) + "\" count=\"0\" uniqueCount=\"0\"/>";
  return out;
}

std::string Relationship(std::size_t id, const std::string& type, const std::string& target) {
  return "<Relationship Id=\"rId" + std::to_string(id) + "\" Type=\"" + type + "\" Target=\"" +
         target + "\"/>";
}

std::string PackageRels() {
  std::string out(kXmlDecl);
  out += "<Relationships xmlns=\"" + std::string(kPkgRelNs) + "\">";
  out += Relationship(1, std::string(kRelNs) + "/officeDocument", "xl/workbook.xml");
  out += Relationship(2, std::string(kPkgRelNs) + "/metadata/core-properties", "docProps/core.xml");
  out += Relationship(3, std::string(kRelNs) + "/extended-properties", "docProps/app.xml");
  out += "</Relationships>";
  return out;
}

void WorkbookRels(PackageZip& zip, std::size_t sheets) {
  zip.Out() += kXmlDecl;
  zip.Out() += "<Relationships xmlns=\"" + std::string(kPkgRelNs) + "\">";
  for (std::size_t i = 1; i <= sheets; ++i) {
    zip.Out() += Relationship(i, std::string(kRelNs) + "/worksheet",
                              "worksheets/sheet" + std::to_string(i) + ".xml");
    zip.Filled();
  }
  zip.Out() += Relationship(sheets + 1, std::string(kRelNs) + "/theme", "theme/theme1.xml");
  zip.Out() += Relationship(sheets + 2, std::string(kRelNs) + "/styles", "styles.xml");
  zip.Out() +=
      Relationship(sheets + 3, std::string(kRelNs) + "/sharedStrings", "sharedStrings.xml");
  zip.Out() += "</Relationships>";
}

// A filter's hidden name, defined for the sheet at `index`.
void AppendFilterName(std::string& out, const Worksheet& sheet, std::size_t index) {
  out += "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"" + std::to_string(index) +
         "\" hidden=\"1\">";
  AppendEscaped(out, QuotedSheetName(sheet.Name()), false);
  out += '!';
  AppendRange(out, *sheet.AutoFilter(), true);
  out += "</definedName>";
}

void WorkbookXml(PackageZip& zip, const std::vector<const Worksheet*>& sheets,
                 const Worksheet* active) {
  zip.Out() += kXmlDecl;
  zip.Out() +=
      "<workbook xmlns=\"" + std::string(kMainNs) + "\" xmlns:r=\"" + std::string(kRelNs) + "\">";
  zip.Out() +=
      "<fileVersion appName=\"xl\" lastEdited=\"4\" lowestEdited=\"4\" rupBuild=\"4505\"/>"
      "<workbookPr defaultThemeVersion=\"124226\"/><bookViews><workbookView xWindow=\"240\" "
      "yWindow=\"15\" windowWidth=\"16095\" windowHeight=\"9660\"";
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (sheets[i] == active && i > 0) zip.Out() += " activeTab=\"" + std::to_string(i) + "\"";
  }
  zip.Out() += "/></bookViews><sheets>";
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    std::string& out = zip.Out();
    out += "<sheet name=\"";
    AppendEscaped(out, sheets[i]->Name(), true);
    out +=
        "\" sheetId=\"" + std::to_string(i + 1) + "\" r:id=\"rId" + std::to_string(i + 1) + "\"/>";
    zip.Filled();
  }
  zip.Out() += "</sheets>";
  // Every filter has a hidden name for its range, sorted as spreadsheets sort names; only the
  // sort keys are kept, the names are written from their sheets.
  std::vector<std::pair<std::string, std::size_t>> names;  // sort key, sheet
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (sheets[i]->AutoFilter())
      names.emplace_back(UnicodeFold(QuotedSheetName(sheets[i]->Name())), i);
  }
  if (!names.empty()) {
    std::stable_sort(names.begin(), names.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    zip.Out() += "<definedNames>";
    for (const auto& n : names) {
      AppendFilterName(zip.Out(), *sheets[n.second], n.second);
      zip.Filled();
    }
    zip.Out() += "</definedNames>";
  }
  zip.Out() += "<calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/></workbook>";
}

void AppXml(PackageZip& zip, const std::vector<const Worksheet*>& sheets) {
  zip.Out() += kXmlDecl;
  zip.Out() +=
      "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "extended-properties\" xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "docPropsVTypes\"><Application>Microsoft Excel</Application><DocSecurity>0</DocSecurity>"
      "<ScaleCrop>false</ScaleCrop><HeadingPairs><vt:vector size=\"2\" baseType=\"variant\">"
      "<vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant><vt:variant><vt:i4>";
  zip.Out() += std::to_string(sheets.size());
  zip.Out() += "</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"";
  zip.Out() += std::to_string(sheets.size());
  zip.Out() += "\" baseType=\"lpstr\">";
  for (const Worksheet* s : sheets) {
    std::string& out = zip.Out();
    out += "<vt:lpstr>";
    AppendEscaped(out, s->Name(), false);
    out += "</vt:lpstr>";
    zip.Filled();
  }
  zip.Out() +=
      "</vt:vector></TitlesOfParts><Company></Company><LinksUpToDate>false</LinksUpToDate>"
      "<SharedDoc>false</SharedDoc><HyperlinksChanged>false</HyperlinksChanged>"
      "<AppVersion>12.0000</AppVersion></Properties>";
}

// Begins part `name`, has `write` append its bytes, ends the part.
template <typename Write>
void StreamPart(PackageZip& zip, const std::string& name, Write write) {
  zip.BeginPart(name);
  write();
  zip.EndPart();
}

std::string CoreXml() {
  char when[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string out(kXmlDecl);
  out +=
      "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/"
      "core-properties\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\""
      "http://purl.org/dc/terms/\" xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" xmlns:xsi=\""
      "http://www.w3.org/2001/XMLSchema-instance\"><dc:creator></dc:creator><cp:lastModifiedBy>"
      "</cp:lastModifiedBy><dcterms:created xsi:type=\"dcterms:W3CDTF\">";
  out += when;
  out += "</dcterms:created><dcterms:modified xsi:type=\"dcterms:W3CDTF\">";
  out += when;
  out += "</dcterms:modified></cp:coreProperties>";
  return out;
}

}  // namespace

void WriteXlsx(const std::filesystem::path& path, const std::vector<const Worksheet*>& sheets,
               const Worksheet* active,
               const std::function<void(std::uint64_t, std::uint64_t)>& tell) {
  const std::string shown = path.string();
  auto fail = [&](const std::string& why) { SaveFailed(shown, why); };

  std::optional<ReplacedFile> file;
  try {
    file.emplace(shown);
  } catch (const std::system_error& e) {
    fail(e.code().message());
  }

  {
    PackageZip zip(file->Fd(), shown);
    StreamPart(zip, "[Content_Types].xml", [&] { ContentTypes(zip, sheets.size()); });
    WritePart(zip, "_rels/.rels", PackageRels());
    StreamPart(zip, "docProps/app.xml", [&] { AppXml(zip, sheets); });
    WritePart(zip, "docProps/core.xml", CoreXml());
    StreamPart(zip, "xl/workbook.xml", [&] { WorkbookXml(zip, sheets, active); });
    StreamPart(zip, "xl/_rels/workbook.xml.rels", [&] { WorkbookRels(zip, sheets.size()); });
    WritePart(zip, "xl/theme/theme1.xml", kThemeXml);
    // Cells hold their texts inline, so the shared strings are none; but streaming readers
    // that meet the worksheets before a shared-strings part drop sheets, so an empty one
    // comes first.
    WritePart(zip, "xl/sharedStrings.xml", SharedStringsXml());
    Styles styles;
    Progress progress{tell};
    for (const Worksheet* s : sheets) progress.total += s->CellCount();
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      WriteSheet(zip, *sheets[i], i + 1, sheets[i] == active, styles, progress);
      KillPoint("sheet-written");
    }
    zip.BeginPart("xl/styles.xml");
    styles.Write(zip);
    zip.EndPart();
    zip.Finish();
  }

  try {
    file->Commit();
  } catch (const std::system_error& e) {
    fail(e.code().message());
  }
}

}  // namespace palomet::xl::detail
