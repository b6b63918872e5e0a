// Workbook engine figures on the cells of a flat XML export (gen.py's W1):
//
//   workbook_bench compare FILE.xml [REPS]
//     cells per second into the engine and the whole fill-and-save time, in memory and
//     write-through, beside libxlsxwriter writing the same typed cells directly in
//     constant-memory mode, alternated in one run; bytes per cell held by the engine.
//   workbook_bench stream FILE.xml
//     streams the file's cells into a write-through workbook and saves it; prints the
//     process's peak resident memory (run at two scales to see it stay flat).
//   workbook_bench sheets N [ROWS]
//     the memory a workbook of N small sheets (ROWS rows of 10 cells, 30 by default) costs
//     when saved: libxlsxwriter on its own beside the engine's write-through save, each in a
//     child process of its own; shows what the writer holds per sheet until the file is done.
//
// Generated data stays outside the repository (e.g. /tmp).

#include <libxml/xmlreader.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "office/xl/Excel.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Reads the records (children of the root) of a flat export and hands out their cells
// as the import would lay them out: row 1 the field names in first-seen order, then one
// row per record; a missing field leaves its cell out.
void ReadCells(
    const char* file,
    const std::function<void(std::uint32_t row, std::uint16_t col, std::string_view)>& cell) {
  xmlTextReaderPtr reader = xmlReaderForFile(file, nullptr, XML_PARSE_NONET | XML_PARSE_HUGE);
  if (!reader) {
    std::fprintf(stderr, "cannot read %s\n", file);
    std::exit(1);
  }
  std::map<std::string, std::uint16_t> columns;
  std::vector<std::string> header;
  std::uint32_t row = 1;
  std::string field, value;
  int depth = -1;
  std::vector<std::pair<std::uint16_t, std::string>> pending;
  while (xmlTextReaderRead(reader) == 1) {
    const int type = xmlTextReaderNodeType(reader);
    const int d = xmlTextReaderDepth(reader);
    if (type == XML_READER_TYPE_ELEMENT && d == 1) {
      ++row;
    } else if (type == XML_READER_TYPE_ELEMENT && d == 2) {
      field = reinterpret_cast<const char*>(xmlTextReaderConstName(reader));
      value.clear();
      depth = d;
      if (xmlTextReaderIsEmptyElement(reader)) depth = -1;
    } else if ((type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE ||
                type == XML_READER_TYPE_CDATA) &&
               depth == 2 && d == 3) {
      value += reinterpret_cast<const char*>(xmlTextReaderConstValue(reader));
    } else if (type == XML_READER_TYPE_END_ELEMENT && d == 2 && depth == 2) {
      auto [it, added] = columns.emplace(field, static_cast<std::uint16_t>(columns.size() + 1));
      if (added) header.push_back(field);
      cell(row, it->second, value);
      depth = -1;
    }
  }
  xmlFreeTextReader(reader);
  for (std::size_t c = 0; c < header.size(); ++c) {
    cell(1, static_cast<std::uint16_t>(c + 1), header[c]);
  }
}

struct Cell {
  std::uint32_t row;
  std::uint16_t col;
  palomet::xl::CellType type;
  std::uint8_t decimals;
  double number;
  std::string text;
  int format = -1;  // index into the formats list, -1 for text
};

std::vector<std::string> formatCodes;

std::vector<Cell> LoadCells(const char* file) {
  std::vector<Cell> cells;
  ReadCells(file, [&](std::uint32_t row, std::uint16_t col, std::string_view v) {
    cells.push_back({row, col, palomet::xl::CellType::Text, 0, 0, std::string(v)});
  });
  // The field names arrive last; put them first, in row order.
  std::stable_sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  });
  // Type every cell the way the engine does, so the direct writer gets the same cells.
  auto app = palomet::xl::Application::Create();
  palomet::xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  for (Cell& c : cells) {
    s.SetCell(1, 1, c.text);
    const palomet::xl::CellValue v = s.Cell(1, 1);
    c.type = v.type;
    c.decimals = v.decimals;
    c.number = v.number;
    if (v.type != palomet::xl::CellType::Text) {
      const std::string code = v.NumberFormat();
      auto it = std::find(formatCodes.begin(), formatCodes.end(), code);
      c.format = static_cast<int>(it - formatCodes.begin());
      if (it == formatCodes.end()) formatCodes.push_back(code);
    }
  }
  return cells;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// CPU seconds of the whole process; steadier than the wall clock on a shared machine.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// libxlsxwriter on its own: the same cells, the same formats, constant-memory mode.
double WriteDirect(const std::vector<Cell>& cells, const fs::path& out) {
  const auto t0 = Clock::now();
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(out.c_str(), &options);
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Customer");
  std::vector<lxw_format*> formats(formatCodes.size(), nullptr);
  for (const Cell& c : cells) {
    if (c.format < 0) {
      worksheet_write_string(ws, c.row - 1, c.col - 1, c.text.c_str(), nullptr);
    } else {
      lxw_format*& f = formats[static_cast<std::size_t>(c.format)];
      if (!f) {
        f = workbook_add_format(wb);
        format_set_num_format(f, formatCodes[static_cast<std::size_t>(c.format)].c_str());
      }
      worksheet_write_number(ws, c.row - 1, c.col - 1, c.number, f);
    }
  }
  if (workbook_close(wb) != LXW_NO_ERROR) std::fprintf(stderr, "direct write failed\n");
  return Seconds(Clock::now() - t0);
}

struct EngineRun {
  double fill = 0, total = 0;
  std::size_t cellBytes = 0;
};

EngineRun WriteEngine(const std::vector<Cell>& cells, const fs::path& out,
                      palomet::xl::CellStorage storage) {
  EngineRun r;
  const auto t0 = Clock::now();
  auto app = palomet::xl::Application::Create(storage);
  palomet::xl::Workbook& wb = app->AddWorkbook();
  palomet::xl::Worksheet& s = wb.ActiveSheet();
  s.SetName("Customer");
  wb.Sheets("Sheet2").Delete();
  wb.Sheets("Sheet3").Delete();
  for (const Cell& c : cells) s.SetCell(c.row, c.col, c.text);
  const auto t1 = Clock::now();
  wb.SaveAs(out);
  r.fill = Seconds(t1 - t0);
  r.total = Seconds(Clock::now() - t0);
  r.cellBytes = s.CellBytes();
  return r;
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Compare(const char* file, int reps) {
  const std::vector<Cell> cells = LoadCells(file);
  std::size_t textBytes = 0;
  for (const Cell& c : cells) {
    if (c.type == palomet::xl::CellType::Text) textBytes += c.text.size();
  }
  const fs::path dir = fs::temp_directory_path() / "palomet-workbook-bench";
  fs::create_directories(dir);
  std::vector<double> direct, memory, memoryFill, through, throughFill;
  std::vector<double> directCpu, memoryCpu, throughCpu;
  std::size_t cellBytes = 0;
  // The three take turns going first, so none always runs on a warmer (or busier) machine.
  for (int i = 0; i < reps; ++i) {
    for (int k = 0; k < 3; ++k) {
      const int which = (i + k) % 3;
      const double c0 = CpuSeconds();
      if (which == 0) {
        direct.push_back(WriteDirect(cells, dir / "direct.xlsx"));
        directCpu.push_back(CpuSeconds() - c0);
      } else if (which == 1) {
        const EngineRun m =
            WriteEngine(cells, dir / "memory.xlsx", palomet::xl::CellStorage::InMemory);
        memoryCpu.push_back(CpuSeconds() - c0);
        memory.push_back(m.total);
        memoryFill.push_back(m.fill);
        cellBytes = m.cellBytes;
      } else {
        const EngineRun t =
            WriteEngine(cells, dir / "through.xlsx", palomet::xl::CellStorage::WriteThrough);
        throughCpu.push_back(CpuSeconds() - c0);
        through.push_back(t.total);
        throughFill.push_back(t.fill);
      }
    }
  }
  const double n = static_cast<double>(cells.size());
  std::printf("cells: %zu (text bytes %zu), %d runs each, medians\n", cells.size(), textBytes,
              reps);
  std::printf("libxlsxwriter direct, write + save:    %7.3f s  %10.0f cells/s\n", Median(direct),
              n / Median(direct));
  std::printf("engine in memory:  fill %7.3f s (%10.0f cells/s), fill + save %7.3f s = %.2fx\n",
              Median(memoryFill), n / Median(memoryFill), Median(memory),
              Median(memory) / Median(direct));
  std::printf("engine write-through: fill %7.3f s (%10.0f cells/s), fill + save %7.3f s = %.2fx\n",
              Median(throughFill), n / Median(throughFill), Median(through),
              Median(through) / Median(direct));
  std::printf("CPU seconds: direct %.3f, in memory %.3f = %.2fx, write-through %.3f = %.2fx\n",
              Median(directCpu), Median(memoryCpu), Median(memoryCpu) / Median(directCpu),
              Median(throughCpu), Median(throughCpu) / Median(directCpu));
  std::printf("engine memory: %.2f bytes per cell besides the text (%zu bytes of cell records)\n",
              static_cast<double>(cellBytes) / n, cellBytes);
  std::printf(".xlsx sizes: direct %ju, engine %ju bytes\n",
              static_cast<std::uintmax_t>(fs::file_size(dir / "direct.xlsx")),
              static_cast<std::uintmax_t>(fs::file_size(dir / "memory.xlsx")));
  fs::remove_all(dir);
  return 0;
}

int Stream(const char* file) {
  const fs::path out = fs::temp_directory_path() / "palomet-workbook-bench-stream.xlsx";
  const auto t0 = Clock::now();
  auto app = palomet::xl::Application::Create(palomet::xl::CellStorage::WriteThrough);
  palomet::xl::Worksheet& s = app->AddWorkbook().ActiveSheet();
  std::size_t cells = 0;
  // The field names come last from the reader; a one-sheet run puts them on row 1 of
  // another table's block, so write them to a second sheet to keep rows ascending.
  palomet::xl::Worksheet& header = app->AddSheet();
  ReadCells(file, [&](std::uint32_t row, std::uint16_t col, std::string_view v) {
    (row == 1 ? header : s).SetCell(row, col, v);
    ++cells;
  });
  const long fillKb = PeakRssKb();
  app->ActiveWorkbook().SaveAs(out);
  std::printf("write-through: %zu cells in %.3f s; peak RSS after fill %ld KB, after save %ld KB\n",
              cells, Seconds(Clock::now() - t0), fillKb, PeakRssKb());
  fs::remove(out);
  return 0;
}

// Peak resident memory of `work` run in a child process of its own, in KB; -1 on failure.
long ChildPeakKb(const std::function<void()>& work) {
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    work();
    std::fflush(stdout);
    ::_exit(0);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  return usage.ru_maxrss;
}

int Sheets(int count, int rows) {
  const fs::path dir = fs::temp_directory_path();
  const std::string out = (dir / "workbook_bench_sheets.xlsx").string();
  // Small texts and numbers, as in a folder of small exports.
  auto value = [](int sheet, int row, int col) {
    return col % 2 ? std::to_string(sheet * 1000 + row * 10 + col) : "text " + std::to_string(row);
  };
  const long empty = ChildPeakKb([] {});
  const long direct = ChildPeakKb([&] {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(out.c_str(), &options);
    for (int s = 0; s < count; ++s) {
      lxw_worksheet* ws = workbook_add_worksheet(wb, ("T" + std::to_string(s)).c_str());
      if (!ws) ::_exit(1);
      for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < 10; ++c) {
          const std::string v = value(s, r, c);
          if (c % 2) {
            worksheet_write_number(ws, r, c, std::stod(v), nullptr);
          } else {
            worksheet_write_string(ws, r, c, v.c_str(), nullptr);
          }
        }
      }
    }
    if (workbook_close(wb) != LXW_NO_ERROR) ::_exit(1);
  });
  const long engine = ChildPeakKb([&] {
    auto app = palomet::xl::Application::Create(palomet::xl::CellStorage::WriteThrough);
    app->AddWorkbook();
    for (int s = 0; s < count; ++s) {
      palomet::xl::Worksheet& ws = app->AddSheet();
      ws.SetName("T" + std::to_string(s));
      for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= 10; ++c) ws.SetCell(r, c, value(s, r, c));
      }
    }
    app->ActiveWorkbook().SaveAs(out);
  });
  fs::remove(out);
  std::printf("%d sheets of %d rows x 10 cells; peak RSS of a child doing nothing %ld KB\n", count,
              rows, empty);
  std::printf("libxlsxwriter direct (constant memory): peak %ld KB = %.1f KB per sheet\n", direct,
              double(direct - empty) / count);
  std::printf("engine write-through, fill + save:      peak %ld KB = %.1f KB per sheet\n", engine,
              double(engine - empty) / count);
  return direct < 0 || engine < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "compare") == 0) {
    return Compare(argv[2], argc >= 4 ? std::atoi(argv[3]) : 3);
  }
  if (argc >= 3 && std::strcmp(argv[1], "stream") == 0) return Stream(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "sheets") == 0) {
    return Sheets(std::max(1, std::atoi(argv[2])),
                  argc >= 4 ? std::max(1, std::atoi(argv[3])) : 30);
  }
  std::fprintf(stderr, "usage: %s compare FILE.xml [REPS] | stream FILE.xml | sheets N [ROWS]\n",
               argv[0]);
  return 2;
}
