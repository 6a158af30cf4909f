// config.txt: the few values the run needs before it can reach its database.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/run_settings.h"

namespace corvane::run {

// Reads `count` items from `bytes` by the sequential-input rules:
// - items are separated by commas and by line ends (CR LF, LF or a lone CR);
// - blanks (spaces, tabs) before an item are skipped, and trailing blanks of an unquoted item
//   are dropped;
// - an item that starts with a double quote is taken whole up to the next double quote, commas
//   and line ends included, without its quotes; anything between the closing quote and the next
//   separator is dropped (a double quote inside an unquoted item is kept as it is);
// - a UTF-8 byte-order mark at the very start is skipped.
// Anything after the last item asked for is not looked at. Fails with "Input past end of file"
// (62) when the bytes hold fewer than `count` items, naming `source`.
std::vector<std::string> ReadSequentialItems(std::string_view bytes, std::size_t count,
                                             std::string_view source = "config.txt");

// Reads <program folder>/config.txt, or `settings_file` where given (--config), into the six
// settings-file values of `settings`: items 3, 5, 7, 9, 11 and 13 (the others are read and
// ignored). A missing file fails with "File not found" (53), an unreadable one with the system's
// reason, a short one with 62, each naming the file. Settings that others could change are
// refused (kUnsafe, "Permission denied", 70) before they are read: a settings file, the folder
// it is in, the program folder or `executable` (the program's own file) writable by group or
// others, or owned by a user other than the one running the program or root.
void ReadConfig(const std::filesystem::path& program_folder,
                const std::filesystem::path& executable, RunSettings& settings,
                const std::filesystem::path& settings_file = {});

}  // namespace corvane::run
