// The about box: "About Telvane" with the program's picture, its version and
// the platform line, and an OK button that closes it.
#pragma once

#include <QDialog>

namespace tv {

inline constexpr const char* kVersionLine = "Version 2.7g";
inline constexpr const char* kPlatformLine = "64-bit version for Linux";

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace tv
