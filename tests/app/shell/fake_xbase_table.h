// A small in-memory stand-in for the table engine, linked into the main
// window tests in place of the engine's table object. It keeps each table's
// rows per file path, touches the .DBF and .CDX files on disk so that the
// store's existence checks see them, and evaluates the few key and filter
// expressions the fax store uses.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tv::fake {

// Forgets every table (the files on disk stay).
void ResetTables();
// Appends a row to a table file that exists in the fake (values by field name).
void AddRow(const std::filesystem::path& dbf,
            const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace tv::fake
