#pragma once

// Internal to the engine: the .xlsx package writer.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace palomet::xl {
class Worksheet;
}

namespace palomet::xl::detail {

// Writes `sheets` in this order as an .xlsx file at `path`, `active` selected. Each sheet's
// XML is made from its cells in row order and compressed as it is made; nothing of a written
// sheet stays in memory. The file is written beside `path` under a temporary name, synced and
// renamed over it once complete: `path` is replaced whole or left as it was. Throws Error
// naming the file and the system's reason.
// `progress`, when set, is called every 64K cells and after each sheet.
void WriteXlsx(const std::filesystem::path& path, const std::vector<const Worksheet*>& sheets,
               const Worksheet* active, const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});

// The theme part every package carries.
extern const std::string_view kThemeXml;

}  // namespace palomet::xl::detail
