#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QSettings>
#include <QTest>

#include "app/Form1.h"
#include "app/ListView.h"
#include "tests/support/FakeDialogs.h"
#include "tests/support/FakeMessageBoxes.h"
#include "tests/support/TempDir.h"

namespace palomet::test {

// Builds the main window for a test: a temporary program folder and settings
// folder, fake dialogs and message boxes, a home-page draw that never hits
// (unless the test sets `draw`) and a URL opener that only records. Files for the
// program folder and stored settings are set up before Start(); Restart() closes
// the window and builds a new one over the same folders, as the next program start
// would.
class Form1Harness {
 public:
  Form1Harness() {
    std::filesystem::create_directories(ProgramFolder());
    std::filesystem::create_directories(SettingsFolder());
  }
  ~Form1Harness() { Stop(); }

  std::filesystem::path ProgramFolder() const { return temp.Path() / "program"; }
  std::filesystem::path SettingsFolder() const { return temp.Path() / "settings"; }
  // The settings store's file, for tests that prepare or break it.
  std::filesystem::path SettingsFile() const {
    return SettingsFolder() / "Corvane" / "Palomet.conf";
  }

  // Writes a file of the program folder (e.g. "HAND-M.CUR", "x/o.cjs").
  void WriteProgramFile(const std::string& name, std::string_view contents) {
    temp.Write("program/" + name, contents);
  }
  // Copies the shipped file of that name from the build's program folder.
  void CopyShippedProgramFile(const std::string& name) {
    const auto target = ProgramFolder() / name;
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(std::filesystem::path(PALOMET_PROGRAM_DIR) / name, target,
                               std::filesystem::copy_options::overwrite_existing);
  }

  void StoreSetting(const std::string& key, const std::string& value) {
    QSettings store(QString::fromStdString(SettingsFile().string()), QSettings::IniFormat);
    store.setValue(QStringLiteral("Palomet/") + QString::fromStdString(key),
                   QString::fromStdString(value));
    store.sync();
  }
  // The stored text of `key`, or "<unset>".
  std::string StoredSetting(const std::string& key) const {
    QSettings store(QString::fromStdString(SettingsFile().string()), QSettings::IniFormat);
    const QVariant v = store.value(QStringLiteral("Palomet/") + QString::fromStdString(key));
    return v.isValid() ? v.toString().toStdString() : "<unset>";
  }

  // Builds the window (running its start-up) and shows it.
  Form1& Start(bool show = true) {
    Stop();
    Form1Deps deps{messages,
                   dialogs,
                   [this] { return draw; },
                   [this](const std::string& url) { openedUrls.push_back(url); },
                   settingsFolder.empty() ? SettingsFolder().string() : settingsFolder,
                   ProgramFolder().string(),
                   stagingDatabase};
    if (homePage) deps.homePage = *homePage;
    form = std::make_unique<Form1>(std::move(deps));
    if (show) {
      form->show();
      (void)QTest::qWaitForWindowExposed(form.get());
    }
    return *form;
  }
  Form1& Restart() { return Start(); }
  void Stop() {
    if (form) {
      form->close();
      form.reset();
      QCoreApplication::processEvents();
    }
  }

  // Finds a control of the window by its object name.
  template <typename T>
  T* Find(const char* name) const {
    return form->findChild<T*>(QString::fromUtf8(name));
  }
  ListView& List() const { return *form->ListView1(); }
  // A left click in the middle of the control of that name.
  void Click(const char* name) const {
    QWidget* w = Find<QWidget>(name);
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
  }
  // The middle of the list's row at a 1-based position, in viewport coordinates.
  QPoint RowCentre(int position) const {
    return List().visualItemRect(List().ItemAt(position)).center();
  }

  // The list's texts, top to bottom.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (int i = 1; i <= List().Count(); ++i) out.push_back(List().Text(i));
    return out;
  }
  // Fills the list with the given texts and selects the entry at `selected`
  // (0: none).
  void Fill(const std::vector<std::string>& texts, int selected = 0) {
    for (const auto& t : texts) List().Add(t);
    if (selected) List().Select(selected);
  }

  TempDir temp;
  FakeMessageBoxes messages;
  FakeDialogs dialogs;
  double draw = 0.5;
  // The home page the window is built with, when set; else the one the build was
  // configured with.
  std::optional<std::string> homePage;
  std::vector<std::string> openedUrls;
  // Overrides the settings folder when not empty (e.g. one the store cannot use).
  std::string settingsFolder;
  // Where the window's runs stage their tables, when set; else the program folder's temp.mdb.
  std::function<std::string()> stagingDatabase;
  std::unique_ptr<Form1> form;
};

}  // namespace palomet::test
