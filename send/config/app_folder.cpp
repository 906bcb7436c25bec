#include "send/config/app_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tv {

namespace fs = std::filesystem;

fs::path AppFolder() {
  if (const char* home = std::getenv("TELVANE_HOME"); home && *home) return fs::path(home);
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return fs::path(xdg) / "telvane";
  }
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return fs::path(home ? home : ".") / ".local" / "share" / "telvane";
}

bool EnsureAppFolder() {
  std::error_code ec;
  fs::create_directories(AppFolder(), ec);
  return fs::is_directory(AppFolder(), ec);
}

fs::path ConfigurationPath() { return AppFolder() / "ZT.INI"; }

}  // namespace tv
