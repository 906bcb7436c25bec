// The data folder, where Telvane keeps its tables, ZT.INI, the SEND and
// RECEIVE folders, traces, logs and working copies: $TELVANE_HOME when set,
// else $XDG_DATA_HOME/telvane, else ~/.local/share/telvane.
#pragma once

#include <filesystem>

namespace tv {

// The data folder named by the environment (looked up on every call, so that
// a test may point it elsewhere). Not created here.
std::filesystem::path AppFolder();

// Creates the data folder and its missing parents; true when it exists.
bool EnsureAppFolder();

// AppFolder() / "ZT.INI".
std::filesystem::path ConfigurationPath();

}  // namespace tv
