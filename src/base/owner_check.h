// Files that only the account running the program (or root) may change: the settings, the
// program folder, the executable and the single-instance lock. Whoever else could change them
// could send the database password anywhere, change what runs with it, or stop every run.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane {

// The name of user `uid`, or "uid <number>" when it has none.
std::string UserName(uid_t uid);

// Fails (kUnsafe, "Permission denied", 70) with a one-line fix unless the file that `info`
// describes belongs to the account running the program or to root, and its mode gives group
// and others none of `forbidden` (S_IWGRP | S_IWOTH: nobody else may change it; 077: nobody
// else may open it either). `what` names the file ("config.txt"); `harm` says what someone else
// could do with it ("send the database password anywhere").
void CheckOnlyRunnerControls(const struct stat& info, const std::filesystem::path& path,
                             std::string_view what, std::string_view harm, mode_t forbidden);

// The same rule along the whole way to `path`, as ssh holds its key files: every folder from /
// to the file `path` finally names, links followed (the folders a link leads through too), may
// be changed by nobody but the runner or root (S_IWGRP | S_IWOTH), and each link belongs to one
// of them. A folder root owns with the sticky bit (/tmp) is fine: nobody else can replace what
// it holds. The file itself is not looked at: check the descriptor that was opened. Fails
// (kUnsafe) as CheckOnlyRunnerControls does, naming the folder or link; a part that is not
// there ends the walk quietly (opening the file reports it).
void CheckWayToFile(const std::filesystem::path& path, std::string_view what,
                    std::string_view harm);

}  // namespace corvane
