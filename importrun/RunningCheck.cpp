#include "importrun/RunningCheck.h"

#include "office/xl/Excel.h"

namespace palomet {

bool IsExcelRunning() noexcept {
  try {
    const auto running = xl::RunningObjectTable::GetObject(xl::kClassName);
    return running && running->Name() == xl::kApplicationName;
  } catch (...) {
    return false;
  }
}

bool StopForRunningExcel(MessageBoxes& boxes) {
  if (!IsExcelRunning()) return false;
  const MsgResult answer = boxes.Show(std::string(kRunningExcelQuestion), MsgButtons::YesNo,
                                      MsgIcon::None, MsgResult::Yes);
  return answer != MsgResult::Yes;
}

}  // namespace palomet
