#include "app/Main.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>

// Set by the build from the cache variable of the same name.
#ifndef PALOMET_HOME_PAGE
#define PALOMET_HOME_PAGE ""
#endif

namespace palomet {

std::string ProgramFile(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

int Twips(int twips) {
  double dpi = 96.0;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) dpi = screen->logicalDotsPerInch();
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QPoint CenteredPosition(const QRect& area, const QSize& frame) {
  // Halves are rounded down so that the window never sits a pixel right of centre
  // more often than left.
  const auto half = [](int excess) { return static_cast<int>(std::floor(excess / 2.0)); };
  return {area.x() + half(area.width() - frame.width()),
          area.y() + half(area.height() - frame.height())};
}

bool ProgramsPlaceWindows(const QString& platformName) {
  return !platformName.startsWith(QStringLiteral("wayland"));
}

std::string ConfiguredHomePage() {
  return PALOMET_HOME_PAGE;
}

bool MaybeOpenHomePage(const std::string& homePage, const std::function<double()>& draw,
                       const std::function<void(const std::string&)>& openUrl) {
  if (homePage.empty() || !draw || !openUrl) return false;
  const double r = draw();
  if (!(r >= 0.0 && r < 1.0)) return false;
  const int n = static_cast<int>(std::floor(r * 100.0)) + 1;
  if (n != 7) return false;
  try {
    openUrl(homePage);
  } catch (...) {
    // A browser that cannot be started is passed over.
  }
  return true;
}

std::optional<QCursor> LoadPointerImage(const std::string& path) {
  if (!FileExists(path)) return std::nullopt;
  QImageReader reader(QFile::decodeName(QByteArray::fromStdString(path)));
  reader.setDecideFormatFromContent(true);
  const QImage image = reader.read();
  if (image.isNull()) return std::nullopt;
  bool okX = false;
  bool okY = false;
  const int x = image.text(QStringLiteral("HotspotX")).toInt(&okX);
  const int y = image.text(QStringLiteral("HotspotY")).toInt(&okY);
  const QPixmap pixmap = QPixmap::fromImage(image);
  if (okX && okY && x >= 0 && y >= 0 && x < image.width() && y < image.height()) {
    return QCursor(pixmap, x, y);
  }
  return QCursor(pixmap);
}

std::optional<std::string> ReadSkin(const std::string& path) {
  std::error_code ec;
  if (KindOfPath(path, ec) != PathKind::File) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

}  // namespace palomet
