#include "office/xlwindow/WorkbookWindow.h"

namespace palomet::xlwindow {

void InstallWorkbookWindows(std::shared_ptr<WindowPrompts>, FileOpener) {}

}  // namespace palomet::xlwindow
