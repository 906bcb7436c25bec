// The folders of the fax store and the fax files in them: where each kind of
// file lives, how the program finds a stored name whatever its letter case,
// and how it invents new fax file names without overwriting existing files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tv {

// AppFolder() / "SEND": bodies and covers of outgoing faxes, hand-over files
// (a folder "send" or "Send" that exists already is used as it is).
std::filesystem::path SendFolder();
// AppFolder() / "RECEIVE": received faxes (found whatever its letter case).
std::filesystem::path ReceiveFolder();
// AppFolder() / "Covers" when it exists, else the installed cover templates
// (<prefix>/share/telvane/Covers), else the source tree's resources/covers.
std::filesystem::path CoversFolder();
// The shipped help pages (installed, or the source tree's resources/help).
std::filesystem::path HelpFolder();

// The program-wide filter of both fax tables: ".not. archived" hides archived
// rows, an empty filter shows every row.
inline constexpr const char* kHideArchivedFilter = ".not. archived";
std::string& ArchiveFilter();

// Stored names are compared without regard to letter case: returns the path
// of the file in folder whose name equals name in any case, preferring the
// exact spelling; when there is none, folder / name as given.
std::filesystem::path FindFileNoCase(const std::filesystem::path& folder, std::string_view name);
// True when folder holds a file (or folder) of that name in any letter case.
bool FileExistsNoCase(const std::filesystem::path& folder, std::string_view name);

// The lowest free name folder / prefix + five digits + ".APF" (00000..99999),
// a name being taken when a file of that name exists in any letter case.
// When all 100000 are taken: raises EInOutError (ecNoMoreFiles) naming the
// folder and the prefix; an existing file is never returned.
std::filesystem::path FreeFaxFileName(const std::filesystem::path& folder, std::string_view prefix);
// Permanent files of outgoing faxes in SendFolder: "FAX", "COV" or "FWD".
std::filesystem::path SendFileName(std::string_view prefix);
// A new cover sheet rendered from cover values: SendFolder, "COV".
std::filesystem::path NewCoverFileName();
// Temporary working copies in AppFolder, made before sending or viewing.
std::filesystem::path WorkFileName(std::string_view prefix);

// The counting names of received faxes: "FAX" + four digits + ".APF", the
// lowest free one from 0001; when 0001..9999 are all taken "NONAME.APF",
// and when that exists too EInOutError (ecNoMoreFiles) is raised.
std::filesystem::path ReceiveCounterFileName(const std::filesystem::path& folder);

// Copies a whole file in blocks of 2048 bytes, overwriting an existing
// target. False (and nothing done) when both name the same file or the source
// cannot be opened or the target created; false too when reading or writing
// fails part way, and the partial target is then removed.
bool CopyFaxFile(const std::filesystem::path& source, const std::filesystem::path& target);

// Creates a folder with its missing parents; a trailing separator is dropped
// first and a path of two characters or fewer is never created. True when the
// folder exists afterwards.
bool ForceFolder(const std::filesystem::path& path);

}  // namespace tv
