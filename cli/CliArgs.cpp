#include "cli/CliArgs.h"

#include <optional>

#include "office/ArchiveMembers.h"
#include "office/Numbers.h"

namespace palomet {

namespace {

// Splits "--name=value" into its parts; other arguments are returned whole.
std::pair<std::string, std::optional<std::string>> SplitInlineValue(const std::string& arg) {
  if (arg.rfind("--", 0) == 0) {
    const auto eq = arg.find('=');
    if (eq != std::string::npos) return {arg.substr(0, eq), arg.substr(eq + 1)};
  }
  return {arg, std::nullopt};
}

CliRequest Usage(std::string message) {
  CliRequest r;
  r.kind = CliRequest::Kind::Usage;
  r.usageError = std::move(message);
  return r;
}

}  // namespace

CliRequest ParseCliArgs(const std::vector<std::string>& args) {
  for (const auto& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") return {CliRequest::Kind::Help, {}, {}};
  }
  for (const auto& a : args) {
    if (a == "--") break;
    if (a == "--version" || a == "-V") return {CliRequest::Kind::Version, {}, {}};
  }

  CliOptions o;
  bool haveOutput = false;
  bool haveStaging = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      o.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    auto [name, inlineValue] = SplitInlineValue(arg);
    const bool takesValue = name == "--output" || name == "-o" || name == "--staging";
    if (!takesValue) {
      if (inlineValue) return Usage("option '" + name + "' takes no value");
      if (name == "--multiple-sheets") {
        o.multipleSheets = true;
      } else if (name == "--quiet" || name == "-q") {
        o.quiet = true;
      } else if (name == "--keep-going" || name == "-k") {
        o.keepGoing = true;
      } else if (name == "--combine" || name == "-c") {
        o.combine = true;
      } else {
        return Usage("unknown option '" + arg + "'");
      }
      continue;
    }
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return Usage("option '" + name + "' needs a file name");
    }
    if (value.empty()) return Usage("option '" + name + "' needs a file name");
    if (name == "--staging") {
      if (haveStaging) return Usage("option '--staging' given twice");
      haveStaging = true;
      o.staging = value;
    } else {
      if (haveOutput) return Usage("option '--output' given twice");
      haveOutput = true;
      o.output = value;
    }
  }
  if (!haveOutput) return Usage("no output file given (--output OUT.xlsx)");
  if (o.paths.empty()) return Usage("no XML file or folder given");
  for (const auto& p : o.paths) {
    if (p.empty()) return Usage("an empty path was given");
  }
  CliRequest r;
  r.kind = CliRequest::Kind::Run;
  r.options = std::move(o);
  return r;
}

// The paragraph on compressed files and archives, with the import's limits.
std::string PackedFilesHelp() {
  return R"(
A file may be compressed (gzip, xz, bzip2 or zstd: recognised by its content)
or be an archive (zip, or tar, compressed or not). A folder's scan also takes
"*.xml.gz", "*.xml.xz", "*.xml.bz2" and "*.xml.zst" files, and archives:
"*.zip", "*.tar", "*.tar.gz", "*.tgz", "*.tar.xz", "*.tar.bz2", "*.tar.zst".
An archive is taken as a folder: its XML files (compressed or not) are
imported in the archive's order, each as a file of its own named
ARCHIVE:MEMBER (export.zip:2026/orders.xml), as a PATH may name one too;
other members, and archives inside it, are passed over. Nothing is ever
unpacked to disk.

Limits against hostile files: decompressed data may grow to at most
)" + WithThousands(packed::kMaxExpansion) +
         " times the size of the file that holds it, past its first " +
         std::to_string(packed::kExpansionAllowance >> 20) + R"( MB;
an archive may hold at most )" +
         WithThousands(packed::kMaxMembers) + R"( members. A file or member beyond them,
an encrypted member and one whose name leads outside its archive fail as
files that cannot be imported.
)";
}

std::string CliHelpText() {
  return R"help(Usage: palomet-import [OPTION]... --output OUT.xlsx PATH...

Puts the contents of XML files into one new spreadsheet workbook, OUT.xlsx.

Each PATH is an XML file (taken whatever its extension) or a folder, whose
"*.xml" files are taken together with those of all its subfolders (names
beginning with "~" are skipped). Files are imported in the order given.
)help" + PackedFilesHelp() +
         R"help(
A table longer than a sheet holds (1,048,576 rows) goes on on sheets added
right after its own ("T (2)", "T (3)", ...), each beginning with the table's
field names again; no row is split. A line on standard error says so.

A value longer than a cell holds (32,767 characters) gets as much as its cell
holds; the whole value goes, in pieces that each fit a cell, onto a last sheet
"Long texts", and the cut cell links to it.

Options:
  -o, --output OUT.xlsx  the workbook to write; it appears whole or not at all
      --multiple-sheets  one sheet per table (default: all tables stacked on
                         one sheet, each with its own row of field names)
  -c, --combine          combine tables of the same name from all files: one
                         table per kind of record (names compared without
                         regard to case), its columns lined up over the
                         files, with a first column "File" naming the file
                         each row came from (as given here; a folder's files
                         as the folder joined with their path in it); links
                         between tables count the combined rows
  -k, --keep-going       leave out a file that cannot be imported (not
                         well-formed, unreadable, in a broken encoding,
                         referring to an external entity, past a limit of the
                         import) and go on: the workbook holds the other files'
                         tables, as if the files left out had not been given.
                         Each file left out gets its error line on standard
                         error, and the run ends with a line that counts them.
                         A fault of the machine rather than of the file (out
                         of memory, a full or failing disk or $TMPDIR, the
                         staging database or the output not writable) ends
                         the run as an error of no single file, with nothing
                         written
      --staging FILE     stage the tables in FILE, emptied first (default: a
                         fresh staging database of this run's own, removed
                         at the end)
  -q, --quiet            no progress on standard error (errors, the count
                         of files left out, the tables that go on on further
                         sheets and the values kept on "Long texts" are
                         still shown)
  -h, --help             show this help and exit
  -V, --version          show the version and exit

Exit status:
  0    the workbook was written, with every file
  1    no workbook was written: an error (one line on standard error names
       the file and says what is wrong; no output file is left behind), or,
       with --keep-going, every file was left out. An error that belongs to
       no single file (the output, the staging database) ends the run even
       with --keep-going
  2    a usage error
  3    with --keep-going: the workbook was written, but files were left out
  130  interrupted by Ctrl+C, SIGTERM or SIGHUP before the new workbook took
       the output's place: an earlier output is left as it was, and nothing
       beside it or in $TMPDIR. Once the workbook is in place the run ends as
       it would have. A second interrupt ends the program at once, still
       leaving nothing behind
)help";
}

}  // namespace palomet
