#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QCursor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include "office/Files.h"

namespace palomet {

// Files of the program folder, named relative to it.
inline constexpr const char* kPointerImageFile = "HAND-M.CUR";
inline constexpr const char* kSkinFile = "x/o.cjs";

// `folder` + "/" + `name`, the way the program forms the paths of its own files.
std::string ProgramFile(const std::string& folder, const std::string& name);

// Pixels for a length in twips (1/1440 inch) at the primary screen's logical dpi
// (15 twips to a pixel at 96 dpi).
int Twips(int twips);

// Where a window of outer size `frame` (decorations included) goes so that it sits
// in the middle of `area`. Nothing is clamped: a window larger than the area starts
// before it.
QPoint CenteredPosition(const QRect& area, const QSize& frame);

// Whether the window system named `platformName` (Qt's platform plugin) lets a program
// place its own windows; Wayland places them itself.
bool ProgramsPlaceWindows(const QString& platformName);

// The maker's home page as the build was configured (the CMake cache variable
// PALOMET_HOME_PAGE); empty when none was given.
std::string ConfiguredHomePage();

// Draws a number from 1 to 100 with `draw` (uniform on [0, 1)) and, on 7, hands
// `homePage` to `openUrl`, whose outcome is ignored. Returns whether it did. With no
// address there is nothing to visit: nothing is drawn or opened.
bool MaybeOpenHomePage(const std::string& homePage, const std::function<double()>& draw,
                       const std::function<void(const std::string&)>& openUrl);

// The pointer made from the image file at `path` (format taken from the content).
// A PNG may name its hot spot in the text keys "HotspotX" and "HotspotY";
// otherwise it is the image's centre. Nothing when the file is missing or is not
// an image.
std::optional<QCursor> LoadPointerImage(const std::string& path);

// The text of the skin file at `path`, or nothing when there is no such regular
// file or it cannot be read.
std::optional<std::string> ReadSkin(const std::string& path);

}  // namespace palomet
