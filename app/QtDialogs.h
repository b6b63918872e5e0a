#pragma once

#include <QString>
#include <QStringList>

#include "app/Dialogs.h"

class QWidget;

namespace palomet {

// Dialogs shown with QFileDialog.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* owner = nullptr) : owner_(owner) {}
  void SetOwner(QWidget* owner) { owner_ = owner; }

  std::vector<std::string> GetOpenFileNames(const std::string& title,
                                            const std::string& filter) override;
  std::string BrowseFolder(const std::string& prompt) override;

 private:
  QWidget* owner_;
};

// A description|pattern|… filter in QFileDialog's form, one "Description (patterns)"
// per line; a description that already ends in its patterns in brackets is kept.
QString QtNameFilter(const std::string& filter);

// The files a QFileDialog returned, as the selection parts of Dialogs: one path
// alone, or the first file's folder followed by the names; a file in another
// folder (possible when names are typed) keeps its full path.
std::vector<std::string> SelectionParts(const QStringList& files);

}  // namespace palomet
