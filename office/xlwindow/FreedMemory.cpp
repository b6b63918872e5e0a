#include "office/xlwindow/FreedMemory.h"

#include <QCoreApplication>
#include <QMetaObject>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace palomet::xlwindow {

void ReturnFreedMemoryLater() {
#if defined(__GLIBC__)
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  // Queued: by the time it runs, every object the window deleted on its way out is gone.
  QMetaObject::invokeMethod(
      app, [] { malloc_trim(0); }, Qt::QueuedConnection);
#endif
}

}  // namespace palomet::xlwindow
