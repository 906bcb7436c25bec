// Window placements kept in ZT.INI, one section per window class
// ("TMainScreen_Placement", with the screen's logical resolution appended when
// it is above 96 pixels per inch, e.g. "TMainScreen_Placement120"), and the
// one routine that places every dialog before it is shown.
#pragma once

#include <filesystem>
#include <string>

class QWidget;
class QRect;
class QSize;

namespace tv {

// A window's class name without namespace ("TMainScreen").
std::string WindowClassName(const QWidget* form);

// The placement section for a class name at a logical resolution.
std::string PlacementSection(const std::string& className, int logicalDpi);

// Left, Top, Right, Bottom as stored; Right and Bottom are exclusive.
struct TPlacementRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TPlacementRect&) const = default;
};

// Keeps a stored rectangle on a screen of the given size: when Right is
// beyond the width the rectangle moves left by the difference and Right
// becomes the width; the same for Bottom and the height.
TPlacementRect FitPlacement(TPlacementRect rect, int screenWidth, int screenHeight);

// Restores the window's saved bounds and maximized state; without a saved
// Bottom (or with 0) the window is centred with CenterDialog instead.
void LoadWindowPlacement(QWidget* form, const std::filesystem::path& iniPath);
void LoadWindowPlacement(QWidget* form);

// Saves the window's normal bounds (even when maximized) and whether it is
// maximized. Returns ecOK or the file error code; the old file stays whole.
int SaveWindowPlacement(const QWidget* form, const std::filesystem::path& iniPath);
int SaveWindowPlacement(const QWidget* form);

// Places a form before it is shown: the main window (class TMainScreen) and
// every form while the main window is maximized are centred on the screen,
// other forms over the main window. A form with a maximize button also gets
// the system menu.
void CenterDialog(QWidget* form);

}  // namespace tv
