#include "send/config/window_placement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

#include "platform/core/error_codes.h"
#include "platform/ini/ini_file.h"
#include "send/config/app_folder.h"

namespace tv {

namespace {

QScreen* ScreenOf(const QWidget* form) {
  QScreen* screen = form ? form->screen() : nullptr;
  return screen ? screen : QGuiApplication::primaryScreen();
}

QSize ScreenSize(const QWidget* form) {
  QScreen* screen = ScreenOf(form);
  return screen ? screen->geometry().size() : QSize(1024, 768);
}

int LogicalDpi(const QWidget* form) {
  QScreen* screen = ScreenOf(form);
  return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch())) : 96;
}

std::string SectionOf(const QWidget* form) {
  return PlacementSection(WindowClassName(form), LogicalDpi(form));
}

QWidget* FindMainScreen() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (QString::fromStdString(WindowClassName(w)).toUpper() == "TMAINSCREEN") return w;
  }
  return nullptr;
}

}  // namespace

std::string WindowClassName(const QWidget* form) {
  std::string name = form ? form->metaObject()->className() : "";
  if (size_t colon = name.rfind("::"); colon != std::string::npos) name.erase(0, colon + 2);
  return name;
}

std::string PlacementSection(const std::string& className, int logicalDpi) {
  std::string section = className + "_Placement";
  if (logicalDpi > 96) section += std::to_string(logicalDpi);
  return section;
}

TPlacementRect FitPlacement(TPlacementRect r, int screenWidth, int screenHeight) {
  if (screenWidth < r.Right) {
    r.Left -= r.Right - screenWidth;
    r.Right = screenWidth;
  }
  if (screenHeight < r.Bottom) {
    r.Top -= r.Bottom - screenHeight;
    r.Bottom = screenHeight;
  }
  return r;
}

void LoadWindowPlacement(QWidget* form, const std::filesystem::path& iniPath) {
  if (!form) return;
  TIniFile ini(iniPath);
  if (ini.Load() != ecOK) ini.SetText("");
  const std::string section = SectionOf(form);
  TPlacementRect r;
  r.Left = ini.ReadInteger(section, "Left", r.Left);
  r.Top = ini.ReadInteger(section, "Top", r.Top);
  r.Right = ini.ReadInteger(section, "Right", r.Right);
  r.Bottom = ini.ReadInteger(section, "Bottom", r.Bottom);
  const bool maximized = ini.ReadBool(section, "Maximized", form->isMaximized());
  const QSize screen = ScreenSize(form);
  r = FitPlacement(r, screen.width(), screen.height());
  if (r.Bottom != 0 && r.Right > r.Left && r.Bottom > r.Top) {
    form->setGeometry(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  } else {
    CenterDialog(form);
  }
  if (maximized) form->setWindowState(form->windowState() | Qt::WindowMaximized);
}

void LoadWindowPlacement(QWidget* form) { LoadWindowPlacement(form, ConfigurationPath()); }

int SaveWindowPlacement(const QWidget* form, const std::filesystem::path& iniPath) {
  if (!form) return ecBadArgument;
  TIniFile ini(iniPath);
  if (int err = ini.Load(); err != ecOK) return err;
  const std::string section = SectionOf(form);
  // The normal bounds stay known while the window is maximized.
  const QRect normal = form->isMaximized() || form->isMinimized() ? form->normalGeometry()
                                                                   : form->geometry();
  ini.WriteInteger(section, "Left", normal.left());
  ini.WriteInteger(section, "Top", normal.top());
  ini.WriteInteger(section, "Right", normal.left() + normal.width());
  ini.WriteInteger(section, "Bottom", normal.top() + normal.height());
  ini.WriteBool(section, "Maximized", form->isMaximized());
  return ini.Save();
}

int SaveWindowPlacement(const QWidget* form) { return SaveWindowPlacement(form, ConfigurationPath()); }

void CenterDialog(QWidget* form) {
  if (!form) return;
  const QSize size = form->frameGeometry().size().isEmpty() ? form->size()
                                                            : form->frameGeometry().size();
  QWidget* main = FindMainScreen();
  const bool isMain = QString::fromStdString(WindowClassName(form)).toUpper() == "TMAINSCREEN";
  if (isMain || !main || main == form || main->isMaximized()) {
    const QRect screen = ScreenOf(form)->geometry();
    form->move(screen.left() + (screen.width() - size.width()) / 2,
               screen.top() + (screen.height() - size.height()) / 2);
  } else {
    const QRect m = main->frameGeometry();
    form->move(m.left() + (m.width() - size.width()) / 2,
               m.top() + (m.height() - size.height()) / 2);
  }
  // Changing flags of a shown window would hide it; dialogs are placed before.
  if (!form->isVisible() && (form->windowFlags() & Qt::WindowMaximizeButtonHint)) {
    form->setWindowFlag(Qt::WindowSystemMenuHint, true);
  }
}

}  // namespace tv
