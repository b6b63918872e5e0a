#include "app/App.h"

#include <cstdio>
#include <random>

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include "app/Form1.h"
#include "app/QtDialogs.h"
#include "app/QtMessageBoxes.h"
#include "office/xlwindow/WorkbookWindow.h"

namespace palomet {

namespace {

std::function<double()> SystemDraw() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
}

void OpenWithDesktop(const std::string& address) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

std::string ProgramFolder() {
  return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
}

int SaveScreenshot(const QString& file, const QStringList& entries) {
  QTemporaryDir settings;
  if (!settings.isValid()) {
    std::fprintf(stderr, "palomet: cannot make a temporary settings folder\n");
    return 1;
  }
  QtMessageBoxes messages;
  QtDialogs dialogs;
  Form1 form({messages, dialogs, [] { return 0.5; }, [](const std::string&) {},
              QFile::encodeName(settings.path()).toStdString(), ProgramFolder()});
  for (const QString& entry : entries) form.List().Add(QFile::encodeName(entry).toStdString());
  form.show();
  QCoreApplication::processEvents();
  if (!form.grab().save(file, "PNG")) {
    std::fprintf(stderr, "palomet: cannot write the screenshot %s\n",
                 QFile::encodeName(file).constData());
    return 1;
  }
  return 0;
}

}  // namespace

int RunApp(QApplication& app) {
  QApplication::setOrganizationName(QStringLiteral("Corvane"));
  QApplication::setApplicationName(QStringLiteral("Palomet"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/palomet.png")));

  const QStringList args = QCoreApplication::arguments();
  if (args.size() >= 3 && args[1] == QStringLiteral("--screenshot")) {
    return SaveScreenshot(args[2], args.mid(3));
  }

  // The import run's workbook appears in a workbook window.
  xlwindow::InstallWorkbookWindows();
  QtMessageBoxes messages;
  QtDialogs dialogs;
  Form1 form({messages, dialogs, SystemDraw(), OpenWithDesktop, std::string(), ProgramFolder()});
  messages.SetOwner(&form);
  dialogs.SetOwner(&form);
  form.show();
  // Workbook windows outlive the main window: the program ends when the last
  // window has closed.
  return app.exec();
}

}  // namespace palomet
