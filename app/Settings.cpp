#include "app/Settings.h"

#include <memory>

#include <QSettings>
#include <QString>

namespace palomet {

namespace {

constexpr const char* kOrganisation = "Corvane";
constexpr const char* kApplication = "Palomet";
constexpr const char* kGroup = "Palomet";

std::unique_ptr<QSettings> OpenStore(const std::string& folder) {
  if (folder.empty()) return std::make_unique<QSettings>(kOrganisation, kApplication);
  const QString file =
      QString::fromStdString(folder) + "/" + kOrganisation + "/" + kApplication + ".conf";
  return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

}  // namespace

SettingsStore::SettingsStore(std::string folder) : folder_(std::move(folder)) {}

std::string SettingsStore::GetSetting(const std::string& key,
                                      const std::string& defaultValue) const {
  auto store = OpenStore(folder_);
  store->beginGroup(kGroup);
  const QVariant value = store->value(QString::fromStdString(key));
  if (!value.isValid() || store->status() != QSettings::NoError) return defaultValue;
  return value.toString().toStdString();
}

bool SettingsStore::SaveSetting(const std::string& key, const std::string& value) {
  auto store = OpenStore(folder_);
  store->beginGroup(kGroup);
  store->setValue(QString::fromStdString(key), QString::fromStdString(value));
  store->endGroup();
  store->sync();
  return store->status() == QSettings::NoError;
}

bool IsMultipleSheetsOption(const std::string& stored) {
  bool ok = false;
  const double number = QString::fromStdString(stored).trimmed().toDouble(&ok);
  return ok && number == 2.0;
}

}  // namespace palomet
