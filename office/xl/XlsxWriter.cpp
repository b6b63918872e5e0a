#include "office/xl/XlsxWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "office/Error.h"
#include "office/xl/CellStore.h"
#include "office/xl/Excel.h"
#include "office/xl/PackageZip.h"

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

// XML text: & < > as entities. In attribute values (`quote`) also the double quote.
void AppendEscaped(std::string& out, std::string_view s, bool quote) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char* entity;
    switch (s[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"':
        if (!quote) continue;
        entity = "&quot;";
        break;
      default: continue;
    }
    out.append(s.data() + from, i - from);
    out += entity;
    from = i + 1;
  }
  out.append(s.data() + from, s.size() - from);
}

// Bytes a cell's text cannot carry as they are: the XML entities and the control characters
// (but tab and line feed) that the file spells _xHHHH_. A carriage return is spelled out too:
// XML readers would turn it into a line feed.
constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = c != '\t' && c != '\n';
  t['&'] = t['<'] = t['>'] = true;
  return t;
}();

void AppendCellText(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t from = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (!kSpecial[c]) continue;
    out.append(s.data() + from, i - from);
    from = i + 1;
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      const char esc[] = {'_', 'x', '0', '0', kHex[c >> 4], kHex[c & 15], '_'};
      out.append(esc, sizeof esc);
    }
  }
  out.append(s.data() + from, s.size() - from);
}

void AppendColumn(std::string& out, unsigned col) {  // 0-based
  char buf[4];
  int n = 0;
  for (unsigned c = col + 1; c > 0; c = (c - 1) / 26) buf[n++] = static_cast<char>('A' + (c - 1) % 26);
  while (n > 0) out += buf[--n];
}

void AppendInt(std::string& out, std::int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Numbers as spreadsheets write them: up to 16 significant digits, exponent in capitals.
void AppendNumber(std::string& out, double v) {
  char buf[40];
  if (v == std::floor(v) && std::fabs(v) < 1e15) {
    AppendInt(out, static_cast<std::int64_t>(v));
    if (v == 0 && std::signbit(v)) out.insert(out.size() - 1, "-");
    return;
  }
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 16);
  for (char* p = buf; p < r.ptr; ++p) {
    if (*p == 'e') *p = 'E';
  }
  out.append(buf, r.ptr);
}

// The number formats in the order cells first use them: the order decides each format's
// style index, as it would in any writer that adds formats as it meets them.
class Styles {
 public:
  // The style index for a typed cell (1-based; 0 is the default style).
  unsigned IndexFor(std::uint8_t type, std::uint8_t decimals) {
    std::uint16_t& slot = type == static_cast<std::uint8_t>(CellType::Number) ? numbers_[decimals]
                          : type == static_cast<std::uint8_t>(CellType::Date) ? date_
                                                                              : dateTime_;
    if (slot == 0) {
      formats_.push_back(NumberFormatFor(type, decimals));
      slot = static_cast<std::uint16_t>(formats_.size());
    }
    return slot;
  }

  // The style index of a text cell that links elsewhere: underlined in the theme's
  // hyperlink colour, as spreadsheets show links.
  unsigned LinkIndex() {
    if (link_ == 0) {
      formats_.emplace_back();  // no number format: the entry stands for the link style
      link_ = static_cast<std::uint16_t>(formats_.size());
    }
    return link_;
  }

  void Write(PackageZip& zip) const {
    std::string& out = zip.Out();
    out += kXmlDecl;
    out += "<styleSheet xmlns=\"";
    out += kMainNs;
    out += "\">";
    const std::size_t numberFormats = formats_.size() - (link_ != 0 ? 1 : 0);
    if (numberFormats > 0) {
      out += "<numFmts count=\"" + std::to_string(numberFormats) + "\">";
      for (std::size_t i = 0; i < formats_.size(); ++i) {
        if (formats_[i].empty()) continue;
        out += "<numFmt numFmtId=\"" + std::to_string(FormatId(i)) + "\" formatCode=\"";
        AppendEscaped(out, formats_[i], true);
        out += "\"/>";
      }
      out += "</numFmts>";
    }
    const char* font =
        "<sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/>"
        "<scheme val=\"minor\"/></font>";
    out += link_ != 0 ? "<fonts count=\"2\"><font>" : "<fonts count=\"1\"><font>";
    out += font;
    if (link_ != 0) {
      out +=
          "<font><u/><sz val=\"11\"/><color theme=\"10\"/><name val=\"Calibri\"/>"
          "<family val=\"2\"/></font>";
    }
    out +=
        "</fonts><fills count=\"2\"><fill>"
        "<patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/>"
        "</fill></fills><borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/>"
        "</border></borders>";
    out += link_ != 0 ? "<cellStyleXfs count=\"2\">" : "<cellStyleXfs count=\"1\">";
    out += "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>";
    if (link_ != 0) {
      out +=
          "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" applyNumberFormat=\"0\" "
          "applyFill=\"0\" applyBorder=\"0\" applyAlignment=\"0\" applyProtection=\"0\">"
          "<alignment vertical=\"top\"/><protection locked=\"0\"/></xf>";
    }
    out += "</cellStyleXfs><cellXfs count=\"" + std::to_string(formats_.size() + 1) + "\">";
    out += "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
    for (std::size_t i = 0; i < formats_.size(); ++i) {
      if (formats_[i].empty()) {
        out +=
            "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"1\" "
            "applyAlignment=\"1\" applyProtection=\"1\"/>";
        continue;
      }
      out += "<xf numFmtId=\"" + std::to_string(FormatId(i)) +
             "\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
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
  std::array<std::uint16_t, kMaxDecimals + 1> numbers_{};
  std::uint16_t date_ = 0;
  std::uint16_t dateTime_ = 0;
  std::uint16_t link_ = 0;
  std::vector<std::string> formats_;  // an empty entry is the link style

  // Custom number formats are numbered from 164 on, in the order of their entries.
  std::size_t FormatId(std::size_t entry) const {
    return 164 + entry - (link_ != 0 && entry >= link_ ? 1 : 0);
  }
};

// What a sheet's XML can grow to at most: every cell in a row of its own, with the longest
// reference and style, and each byte of text spelled out (_x0001_ is seven bytes for one).
std::uint64_t SheetXmlBound(const Worksheet& sheet) {
  return 4096 + std::uint64_t{sheet.CellCount()} * 128 + std::uint64_t{sheet.TextBytes()} * 7;
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
  out += active ? "\"/><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/>"
                : "\"/><sheetViews><sheetView workbookViewId=\"0\"/>";
  out += "</sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
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
    for (const auto& link : sheet.Hyperlinks()) {
      linked.insert(Key(static_cast<std::uint32_t>(link.row - 1),
                        static_cast<std::uint16_t>(link.col - 1)));
    }
    sheet.ForEachCell([&](const CellRec& rec, std::string_view text) {
      std::string& o = zip.Out();
      if (rec.row != row) {
        if (row >= 0) o += "</row>";
        row = rec.row;
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
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
        if (!linked.empty() && linked.count(Key(rec))) {
          o += "\" s=\"";
          AppendInt(o, styles.LinkIndex());
        }
        o += blank(first) || blank(last) ? "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                         : "\" t=\"inlineStr\"><is><t>";
        AppendCellText(o, escaped);
        o += "</t></is></c>";
      } else {
        o += "\" s=\"";
        AppendInt(o, styles.IndexFor(rec.type, rec.decimals));
        o += "\"><v>";
        AppendNumber(o, rec.number);
        o += "</v></c>";
      }
      zip.Filled();
      progress.Cell();
    });
    zip.Out() += "</row></sheetData>";
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

std::string ContentTypes(std::size_t sheets) {
  const std::string pre = "application/vnd.openxmlformats-officedocument.";
  std::string out(kXmlDecl);
  out +=
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package."
      "relationships+xml\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>";
  auto over = [&](const std::string& part, const std::string& type) {
    out += "<Override PartName=\"" + part + "\" ContentType=\"" + type + "\"/>";
  };
  over("/docProps/app.xml", pre + "extended-properties+xml");
  over("/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml");
  over("/xl/styles.xml", pre + "spreadsheetml.styles+xml");
  over("/xl/theme/theme1.xml", pre + "theme+xml");
  over("/xl/workbook.xml", pre + "spreadsheetml.sheet.main+xml");
  for (std::size_t i = 1; i <= sheets; ++i) {
    over("/xl/worksheets/sheet" + std::to_string(i) + ".xml", pre + "spreadsheetml.worksheet+xml");
  }
  out += "</Types>";
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

std::string WorkbookRels(std::size_t sheets) {
  std::string out(kXmlDecl);
  out += "<Relationships xmlns=\"" + std::string(kPkgRelNs) + "\">";
  for (std::size_t i = 1; i <= sheets; ++i) {
    out += Relationship(i, std::string(kRelNs) + "/worksheet",
                        "worksheets/sheet" + std::to_string(i) + ".xml");
  }
  out += Relationship(sheets + 1, std::string(kRelNs) + "/theme", "theme/theme1.xml");
  out += Relationship(sheets + 2, std::string(kRelNs) + "/styles", "styles.xml");
  out += "</Relationships>";
  return out;
}

std::string WorkbookXml(const std::vector<const Worksheet*>& sheets, const Worksheet* active) {
  std::string out(kXmlDecl);
  out += "<workbook xmlns=\"" + std::string(kMainNs) + "\" xmlns:r=\"" + std::string(kRelNs) + "\">";
  out +=
      "<fileVersion appName=\"xl\" lastEdited=\"4\" lowestEdited=\"4\" rupBuild=\"4505\"/>"
      "<workbookPr defaultThemeVersion=\"124226\"/><bookViews><workbookView xWindow=\"240\" "
      "yWindow=\"15\" windowWidth=\"16095\" windowHeight=\"9660\"";
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    if (sheets[i] == active && i > 0) out += " activeTab=\"" + std::to_string(i) + "\"";
  }
  out += "/></bookViews><sheets>";
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    out += "<sheet name=\"";
    AppendEscaped(out, sheets[i]->Name(), true);
    out += "\" sheetId=\"" + std::to_string(i + 1) + "\" r:id=\"rId" + std::to_string(i + 1) + "\"/>";
  }
  out += "</sheets><calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/></workbook>";
  return out;
}

std::string AppXml(const std::vector<const Worksheet*>& sheets) {
  std::string out(kXmlDecl);
  out +=
      "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "extended-properties\" xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "docPropsVTypes\"><Application>Microsoft Excel</Application><DocSecurity>0</DocSecurity>"
      "<ScaleCrop>false</ScaleCrop><HeadingPairs><vt:vector size=\"2\" baseType=\"variant\">"
      "<vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant><vt:variant><vt:i4>";
  out += std::to_string(sheets.size());
  out += "</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"";
  out += std::to_string(sheets.size());
  out += "\" baseType=\"lpstr\">";
  for (const Worksheet* s : sheets) {
    out += "<vt:lpstr>";
    AppendEscaped(out, s->Name(), false);
    out += "</vt:lpstr>";
  }
  out +=
      "</vt:vector></TitlesOfParts><Company></Company><LinksUpToDate>false</LinksUpToDate>"
      "<SharedDoc>false</SharedDoc><HyperlinksChanged>false</HyperlinksChanged>"
      "<AppVersion>12.0000</AppVersion></Properties>";
  return out;
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

// The temporary file beside the target: closed, and removed unless the save went through.
struct TempFile {
  std::string path;
  int fd = -1;
  bool keep = false;
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!keep && !path.empty()) ::unlink(path.c_str());
  }
};

mode_t CurrentUmask() {
  const mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

}  // namespace

void WriteXlsx(const std::filesystem::path& path, const std::vector<const Worksheet*>& sheets,
               const Worksheet* active,
               const std::function<void(std::uint64_t, std::uint64_t)>& tell) {
  const std::string shown = path.string();
  auto fail = [&](const std::string& why) { SaveFailed(shown, why); };

  // A unique name in the target's folder, so that the rename at the end is atomic.
  const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
  TempFile temp;
  temp.path = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
  temp.fd = ::mkostemp(temp.path.data(), O_CLOEXEC);
  if (temp.fd < 0) {
    temp.path.clear();
    fail(std::strerror(errno));
  }

  {
    PackageZip zip(temp.fd, shown);
    WritePart(zip, "[Content_Types].xml", ContentTypes(sheets.size()));
    WritePart(zip, "_rels/.rels", PackageRels());
    WritePart(zip, "docProps/app.xml", AppXml(sheets));
    WritePart(zip, "docProps/core.xml", CoreXml());
    WritePart(zip, "xl/workbook.xml", WorkbookXml(sheets, active));
    WritePart(zip, "xl/_rels/workbook.xml.rels", WorkbookRels(sheets.size()));
    WritePart(zip, "xl/theme/theme1.xml", kThemeXml);
    Styles styles;
    Progress progress{tell};
    for (const Worksheet* s : sheets) progress.total += s->CellCount();
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      WriteSheet(zip, *sheets[i], i + 1, sheets[i] == active, styles, progress);
    }
    zip.BeginPart("xl/styles.xml");
    styles.Write(zip);
    zip.EndPart();
    zip.Finish();
  }

  if (::fsync(temp.fd) != 0) fail(std::strerror(errno));
  ::fchmod(temp.fd, 0666 & ~CurrentUmask());
  const int fd = std::exchange(temp.fd, -1);
  if (::close(fd) != 0) fail(std::strerror(errno));
  if (::rename(temp.path.c_str(), shown.c_str()) != 0) fail(std::strerror(errno));
  temp.keep = true;
  // The new name is on disk once the folder is synced too; the file is whole either way.
  const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

}  // namespace palomet::xl::detail
