#pragma once

namespace palomet::xlwindow {

// Gives the memory freed by a closed workbook back to the system once the event loop has
// finished deleting the window (its widgets and models go after the window itself). The
// allocator otherwise keeps freed pages for later use, and after a large workbook that is
// most of what the process held.
void ReturnFreedMemoryLater();

}  // namespace palomet::xlwindow
