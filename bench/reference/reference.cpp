// Reference pipeline for the benchmarks: the two stages an XML-to-workbook import
// cannot avoid, done as directly as possible.
//
//   palomet-reference --output OUT.xlsx PATH...
//
//   palomet-reference --one-sheet --output OUT.xlsx PATH...
//
// Each PATH is an XML file or a folder (its *.xml files, sorted by name). The XML
// is parsed in one streaming pass (SAX2); every element that holds child elements
// and values of its own becomes a row of a table named after it (tables numbered
// across files), its attributes and leaf children become columns, and a nested
// row carries the number of the row that encloses it. Each table goes to a
// worksheet of its own, written in constant-memory mode with the same cell typing
// the product applies (numbers with their decimals, ISO dates, text otherwise).
// With --one-sheet every table's rows go onto one worksheet instead, each table's
// row of field names first, in the order the rows are finished: the same cells
// without the cost of a sheet per table (of which many small files make thousands).
// The column order is fixed after a table's first rows; that is all the buffering
// it does.
#include <libxml/parser.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::size_t kHeaderRows = 64;  // rows buffered before the header is fixed

struct Table {
  std::string name;
  lxw_worksheet* sheet = nullptr;
  std::unordered_map<std::string, int> columnIndex;
  std::vector<std::string> columns;
  std::vector<std::vector<std::pair<int, std::string>>> pending;
  bool headerWritten = false;
  lxw_row_t nextRow = 0;
  long rowsStarted = 0;
};

struct Frame {
  std::string name;
  std::string text;  // all character data directly inside
  bool hasChildElements = false;
  long seq = 0;  // this element's row number if it turns out to be a record
  std::vector<std::pair<std::string, std::string>> values;  // column name, value
  bool IsRecordSoFar() const { return !values.empty(); }
};

class Writer {
 public:
  explicit Writer(const char* path) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    workbook_ = workbook_new_opt(path, &options);
    if (!workbook_) {
      std::fprintf(stderr, "cannot create %s\n", path);
      std::exit(1);
    }
  }

  lxw_workbook* Book() { return workbook_; }

  lxw_format* NumberFormat(int decimals) {
    auto& f = numberFormats_[decimals];
    if (!f) {
      f = workbook_add_format(workbook_);
      std::string code =
          decimals == 0 ? "0" : "0." + std::string(static_cast<size_t>(decimals), '0');
      format_set_num_format(f, code.c_str());
    }
    return f;
  }
  lxw_format* DateFormat(bool withTime) {
    auto& f = withTime ? dateTime_ : date_;
    if (!f) {
      f = workbook_add_format(workbook_);
      format_set_num_format(f, withTime ? "yyyy-mm-dd\"T\"hh:mm:ss" : "yyyy-mm-dd");
    }
    return f;
  }

  int Close() { return workbook_close(workbook_) == LXW_NO_ERROR ? 0 : 1; }

 private:
  lxw_workbook* workbook_;
  std::map<int, lxw_format*> numberFormats_;
  lxw_format* date_ = nullptr;
  lxw_format* dateTime_ = nullptr;
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Number as a person would type it: -?(0|[1-9]d*)(.d+)?, at most 15 significant
// digits, not -0. Returns the number of decimals, or -1.
int NumberDecimals(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && s[i] == '-') negative = true, ++i;
  const std::size_t wholeBegin = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  const std::size_t wholeLen = i - wholeBegin;
  if (wholeLen == 0 || (wholeLen > 1 && s[wholeBegin] == '0')) return -1;
  int decimals = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    const std::size_t fracBegin = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    decimals = static_cast<int>(i - fracBegin);
    if (decimals == 0) return -1;
  }
  if (i != s.size()) return -1;
  int significant = 0;
  bool started = false, nonZero = false;
  for (std::size_t k = wholeBegin; k < s.size(); ++k) {
    if (!IsDigit(s[k])) continue;
    if (s[k] != '0') started = nonZero = true;
    if (started) ++significant;
  }
  if (significant > 15) return -1;
  if (negative && !nonZero) return -1;
  return decimals;
}

int Num(std::string_view s, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t k = at; k < at + n; ++k) {
    if (!IsDigit(s[k])) return -1;
    v = v * 10 + (s[k] - '0');
  }
  return v;
}

bool ParseDate(std::string_view s, lxw_datetime& dt, bool& withTime) {
  if (s.size() != 10 && s.size() != 19) return false;
  if (s[4] != '-' || s[7] != '-') return false;
  const int y = Num(s, 0, 4), m = Num(s, 5, 2), d = Num(s, 8, 2);
  if (y < 1900 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return false;
  if (y == 1900 && m < 3) return false;
  dt = {y, m, d, 0, 0, 0};
  withTime = s.size() == 19;
  if (withTime) {
    if (s[10] != 'T' || s[13] != ':' || s[16] != ':') return false;
    const int hh = Num(s, 11, 2), mm = Num(s, 14, 2), ss = Num(s, 17, 2);
    if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59) return false;
    dt.hour = hh, dt.min = mm, dt.sec = ss;
  }
  return true;
}

bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Text that holds _xHHHH_ must reach the file as _x005F_xHHHH_.
std::string EscapeEscapes(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && IsHex(s[i + 2]) && IsHex(s[i + 3]) &&
        IsHex(s[i + 4]) && IsHex(s[i + 5]) && s[i + 6] == '_') {
      out += "_x005F";
    }
    out += s[i];
  }
  return out;
}

class Importer {
 public:
  Importer(Writer& writer, bool oneSheet) : writer_(writer) {
    if (oneSheet) oneSheet_ = workbook_add_worksheet(writer_.Book(), "Sheet1");
  }

  void ImportFile(const std::string& path) {
    tables_.clear();
    stack_.clear();
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &Importer::OnStart;
    sax.endElementNs = &Importer::OnEnd;
    sax.characters = &Importer::OnText;
    sax.cdataBlock = &Importer::OnText;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) {
      std::fprintf(stderr, "%s: cannot open\n", path.c_str());
      std::exit(1);
    }
    xmlParserCtxtPtr ctx = xmlCreatePushParserCtxt(&sax, this, nullptr, 0, path.c_str());
    xmlCtxtUseOptions(ctx, XML_PARSE_NONET | XML_PARSE_NOCDATA);
    std::vector<char> buf(1 << 18);
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
      if (xmlParseChunk(ctx, buf.data(), static_cast<int>(n), 0) != 0) break;
    }
    xmlParseChunk(ctx, nullptr, 0, 1);
    const bool ok = ctx->wellFormed;
    xmlFreeParserCtxt(ctx);
    std::fclose(in);
    if (!ok) {
      std::fprintf(stderr, "%s: not well-formed\n", path.c_str());
      std::exit(1);
    }
    for (auto& [key, table] : tables_) Flush(*table);
  }

 private:
  static void OnStart(void* self, const xmlChar* localname, const xmlChar*, const xmlChar*, int,
                      const xmlChar**, int nbAttributes, int, const xmlChar** attributes) {
    auto& me = *static_cast<Importer*>(self);
    if (!me.stack_.empty()) me.stack_.back().hasChildElements = true;
    Frame f;
    f.name = reinterpret_cast<const char*>(localname);
    f.seq = ++me.starts_[f.name];
    for (int i = 0; i < nbAttributes; ++i) {
      const char* name = reinterpret_cast<const char*>(attributes[i * 5]);
      const char* begin = reinterpret_cast<const char*>(attributes[i * 5 + 3]);
      const char* end = reinterpret_cast<const char*>(attributes[i * 5 + 4]);
      f.values.emplace_back(name, std::string(begin, end));
    }
    me.stack_.push_back(std::move(f));
  }

  static void OnText(void* self, const xmlChar* ch, int len) {
    auto& me = *static_cast<Importer*>(self);
    if (!me.stack_.empty()) me.stack_.back().text.append(reinterpret_cast<const char*>(ch), len);
  }

  static void OnEnd(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto& me = *static_cast<Importer*>(self);
    Frame f = std::move(me.stack_.back());
    me.stack_.pop_back();
    Frame* parent = me.stack_.empty() ? nullptr : &me.stack_.back();
    if (!f.hasChildElements) {
      if (parent) {  // a leaf: a column of the enclosing row
        for (auto& [attr, value] : f.values)
          parent->values.emplace_back(f.name + "@" + attr, value);
        parent->values.insert(parent->values.end() - static_cast<long>(f.values.size()),
                              {f.name, std::move(f.text)});
      } else if (!f.values.empty() || !f.text.empty()) {
        f.values.insert(f.values.begin(), {f.name, f.text});
        me.WriteRow(f, 0, "");
      }
      return;
    }
    const auto own = Trim(f.text);
    if (!own.empty()) f.values.emplace_back(f.name, std::string(own));
    if (f.values.empty()) return;  // a container
    long link = 0;
    std::string linkName;
    for (auto it = me.stack_.rbegin(); it != me.stack_.rend(); ++it) {
      if (it->IsRecordSoFar() && it != me.stack_.rend() - 1) {
        link = it->seq;
        linkName = me.TableFor(it->name).name + "_Row";
        break;
      }
    }
    me.WriteRow(f, link, linkName);
  }

  static std::string_view Trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
  }

  Table& TableFor(const std::string& element) {
    auto& slot = tables_[element];
    if (!slot) {
      slot = std::make_unique<Table>();
      std::string name = element;
      for (int n = 1; !usedNames_.insert(ToLower(name)).second; ++n)
        name = element + std::to_string(n);
      slot->name = name;
      slot->sheet = oneSheet_ ? oneSheet_
                              : workbook_add_worksheet(writer_.Book(), name.substr(0, 31).c_str());
    }
    return *slot;
  }

  static std::string ToLower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }

  void WriteRow(Frame& f, long link, const std::string& linkName) {
    Table& t = TableFor(f.name);
    std::vector<std::pair<int, std::string>> row;
    row.reserve(f.values.size() + 1);
    if (link) row.emplace_back(Column(t, linkName), std::to_string(link));
    for (auto& [name, value] : f.values) row.emplace_back(Column(t, name), std::move(value));
    if (t.headerWritten) {
      WriteCells(t, row);
    } else {
      t.pending.push_back(std::move(row));
      if (t.pending.size() >= kHeaderRows) Flush(t);
    }
  }

  int Column(Table& t, const std::string& name) {
    auto [it, added] = t.columnIndex.emplace(name, static_cast<int>(t.columns.size()));
    if (added) t.columns.push_back(name);
    return it->second;
  }

  void Flush(Table& t) {
    if (!t.headerWritten) {
      const lxw_row_t header = NextRow(t);
      for (std::size_t c = 0; c < t.columns.size(); ++c)
        worksheet_write_string(t.sheet, header, static_cast<lxw_col_t>(c), t.columns[c].c_str(),
                               nullptr);
      t.headerWritten = true;
    }
    for (auto& row : t.pending) WriteCells(t, row);
    t.pending.clear();
  }

  void WriteCells(Table& t, std::vector<std::pair<int, std::string>>& row) {
    std::sort(row.begin(), row.end(), [](auto& a, auto& b) { return a.first < b.first; });
    const lxw_row_t r = NextRow(t);
    for (auto& [col, value] : row) {
      if (value.empty()) continue;
      const auto c = static_cast<lxw_col_t>(col);
      lxw_datetime dt;
      bool withTime;
      if (int d = NumberDecimals(value); d >= 0) {
        worksheet_write_number(t.sheet, r, c, std::strtod(value.c_str(), nullptr),
                               writer_.NumberFormat(d));
      } else if (ParseDate(value, dt, withTime)) {
        worksheet_write_datetime(t.sheet, r, c, &dt, writer_.DateFormat(withTime));
      } else if (value.find("_x") != std::string::npos) {
        worksheet_write_string(t.sheet, r, c, EscapeEscapes(value).c_str(), nullptr);
      } else {
        worksheet_write_string(t.sheet, r, c, value.c_str(), nullptr);
      }
    }
  }

  // The next row of t's sheet: its own, or the one sheet's.
  lxw_row_t NextRow(Table& t) { return oneSheet_ ? oneSheetRow_++ : t.nextRow++; }

  Writer& writer_;
  lxw_worksheet* oneSheet_ = nullptr;
  lxw_row_t oneSheetRow_ = 0;
  std::vector<Frame> stack_;
  std::map<std::string, std::unique_ptr<Table>> tables_;  // this file's tables
  std::unordered_map<std::string, long> starts_;
  std::unordered_set<std::string> usedNames_;  // lower-cased, across files
};

}  // namespace

int main(int argc, char** argv) {
  std::string output;
  std::vector<std::string> files;
  bool oneSheet = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--output" && i + 1 < argc) {
      output = argv[++i];
    } else if (a == "--multiple-sheets") {
      // Every table has a worksheet of its own unless --one-sheet is given.
    } else if (a == "--one-sheet") {
      oneSheet = true;
    } else if (std::filesystem::is_directory(a)) {
      std::vector<std::string> inFolder;
      for (auto& e : std::filesystem::recursive_directory_iterator(a))
        if (e.is_regular_file() && e.path().extension() == ".xml") inFolder.push_back(e.path());
      std::sort(inFolder.begin(), inFolder.end());
      files.insert(files.end(), inFolder.begin(), inFolder.end());
    } else {
      files.push_back(a);
    }
  }
  if (output.empty() || files.empty()) {
    std::fprintf(stderr, "usage: palomet-reference [--one-sheet] --output OUT.xlsx PATH...\n");
    return 2;
  }
  Writer writer(output.c_str());
  Importer importer(writer, oneSheet);
  for (const auto& f : files) importer.ImportFile(f);
  return writer.Close();
}
