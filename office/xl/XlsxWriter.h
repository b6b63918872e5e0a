#pragma once

// Internal to the engine: the one place that talks to libxlsxwriter.

#include <filesystem>
#include <vector>

namespace palomet::xl {
class Worksheet;
}

namespace palomet::xl::detail {

// Writes `sheets` in this order as an .xlsx file at `path`, `active` selected. The file is
// written beside `path` under a temporary name and renamed over it once complete. Throws
// Error naming the file (and for a refused cell its sheet, row and column).
void WriteXlsx(const std::filesystem::path& path, const std::vector<const Worksheet*>& sheets,
               const Worksheet* active);

}  // namespace palomet::xl::detail
