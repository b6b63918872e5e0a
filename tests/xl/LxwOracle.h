#pragma once

// The tests' oracle for the package writer: the same workbook written through libxlsxwriter
// (constant-memory mode, formats added as cells first use them), the way workbooks were
// saved before the engine had a writer of its own.

#include <filesystem>
#include <string>

namespace palomet::xl {
class Workbook;
}

namespace palomet::test {

// Writes every sheet of `book` in tab order, its active sheet selected. Returns "" or the
// writer's error.
std::string WriteWithLibxlsxwriter(const std::filesystem::path& path, const xl::Workbook& book);

}  // namespace palomet::test
