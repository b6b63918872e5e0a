#include "app/QtDialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace palomet {

namespace {
std::string Encode(const QString& path) {
  return QFile::encodeName(path).toStdString();
}
}  // namespace

QString QtNameFilter(const std::string& filter) {
  const QStringList fields = QString::fromStdString(filter).split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
    const QString description = fields[i].trimmed();
    const QString patterns = QString(fields[i + 1]).replace(u';', u' ').trimmed();
    if (patterns.isEmpty()) continue;
    if (description.endsWith(u'(' + patterns + u')')) {
      filters << description;
    } else {
      filters << (description.isEmpty() ? patterns : description) + " (" + patterns + ")";
    }
  }
  return filters.join(u";;");
}

std::vector<std::string> SelectionParts(const QStringList& files) {
  if (files.isEmpty()) return {};
  if (files.size() == 1) return {Encode(files.front())};
  const QString folder = QFileInfo(files.front()).path();
  std::vector<std::string> parts{Encode(folder)};
  for (const QString& file : files) {
    const QFileInfo info(file);
    parts.push_back(info.path() == folder ? Encode(info.fileName()) : Encode(file));
  }
  return parts;
}

std::vector<std::string> QtDialogs::GetOpenFileNames(const std::string& title,
                                                     const std::string& filter) {
  const QStringList files = QFileDialog::getOpenFileNames(owner_, QString::fromStdString(title),
                                                          QString(), QtNameFilter(filter));
  return SelectionParts(files);
}

std::string QtDialogs::BrowseFolder(const std::string& prompt) {
  const QString folder = QFileDialog::getExistingDirectory(owner_, QString::fromStdString(prompt));
  return folder.isEmpty() ? std::string() : Encode(folder);
}

}  // namespace palomet
