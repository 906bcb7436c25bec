#include "app/store/fax_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <unordered_set>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"
#include "send/config/app_folder.h"

namespace tv {

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// The names in a folder, in upper case (empty when the folder is missing).
std::unordered_set<std::string> UpperNames(const fs::path& folder) {
  std::unordered_set<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    names.insert(Upper(it->path().filename().string()));
  }
  return names;
}

std::string Numbered(std::string_view prefix, int n, int digits, std::string_view ext) {
  char number[16];
  std::snprintf(number, sizeof number, "%0*d", digits, n);
  return std::string(prefix) + number + std::string(ext);
}

// The folder of the running program (for installed resources).
fs::path ProgramFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

fs::path ShippedFolder(const char* name) {
  std::error_code ec;
  const fs::path installed = ProgramFolder().parent_path() / "share" / "telvane" / name;
  if (fs::is_directory(installed, ec)) return installed;
  return fs::path(TELVANE_SOURCE_RESOURCES) / name;
}

}  // namespace

// An existing folder of the name in another letter case is the same folder.
fs::path SendFolder() { return FindFileNoCase(AppFolder(), "SEND"); }
fs::path ReceiveFolder() { return FindFileNoCase(AppFolder(), "RECEIVE"); }

fs::path CoversFolder() {
  std::error_code ec;
  const fs::path own = FindFileNoCase(AppFolder(), "Covers");
  if (fs::is_directory(own, ec)) return own;
  const fs::path installed = ProgramFolder().parent_path() / "share" / "telvane" / "Covers";
  if (fs::is_directory(installed, ec)) return installed;
  return fs::path(TELVANE_SOURCE_RESOURCES) / "covers";
}

fs::path HelpFolder() { return ShippedFolder("help"); }

std::string& ArchiveFilter() {
  static std::string filter = kHideArchivedFilter;
  return filter;
}

fs::path FindFileNoCase(const fs::path& folder, std::string_view name) {
  std::error_code ec;
  const fs::path exact = folder / std::string(name);
  if (fs::exists(exact, ec)) return exact;
  const std::string wanted = Upper(name);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (Upper(it->path().filename().string()) == wanted) return it->path();
  }
  return exact;
}

bool FileExistsNoCase(const fs::path& folder, std::string_view name) {
  std::error_code ec;
  return fs::exists(FindFileNoCase(folder, name), ec);
}

fs::path FreeFaxFileName(const fs::path& folder, std::string_view prefix) {
  const auto taken = UpperNames(folder);
  for (int n = 0; n <= 99999; ++n) {
    std::string name = Numbered(prefix, n, 5, ".APF");
    if (!taken.count(Upper(name))) return folder / name;
  }
  throw EInOutError(ecNoMoreFiles,
                    "No free fax file name: " + Numbered(prefix, 0, 5, ".APF") + " to " +
                        Numbered(prefix, 99999, 5, ".APF") + " all exist in " + folder.string());
}

fs::path SendFileName(std::string_view prefix) { return FreeFaxFileName(SendFolder(), prefix); }
fs::path NewCoverFileName() { return FreeFaxFileName(SendFolder(), "COV"); }
fs::path WorkFileName(std::string_view prefix) { return FreeFaxFileName(AppFolder(), prefix); }

fs::path ReceiveCounterFileName(const fs::path& folder) {
  const auto taken = UpperNames(folder);
  for (int n = 1; n <= 9999; ++n) {
    std::string name = Numbered("FAX", n, 4, ".APF");
    if (!taken.count(Upper(name))) return folder / name;
  }
  if (!taken.count("NONAME.APF")) return folder / "NONAME.APF";
  throw EInOutError(ecNoMoreFiles, "No free name for a received fax: FAX0001.APF to FAX9999.APF "
                                   "and NONAME.APF all exist in " + folder.string());
}

bool CopyFaxFile(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  if (source == target || fs::equivalent(source, target, ec)) return false;
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    ::close(in);
    return false;
  }
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    ::close(in);
    return false;
  }
  char block[2048];
  off_t left = st.st_size;
  bool ok = true;
  while (ok && left > 0) {
    const size_t want = left < static_cast<off_t>(sizeof block) ? static_cast<size_t>(left)
                                                                : sizeof block;
    ssize_t got = ::read(in, block, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = false;  // the file shrank or could not be read
      break;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t n = ::write(out, block + done, static_cast<size_t>(got - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      done += n;
    }
    left -= got;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(target.c_str());
  return ok;
}

bool ForceFolder(const fs::path& path) {
  std::string text = path.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  if (text.size() <= 2) return false;
  std::error_code ec;
  fs::create_directories(text, ec);
  return fs::is_directory(text, ec);
}

}  // namespace tv
