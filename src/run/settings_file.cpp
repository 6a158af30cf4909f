#include "run/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/ascii.h"
#include "base/error.h"
#include "base/file_descriptor.h"
#include "base/owner_check.h"
#include "data/connection_string.h"

namespace corvane::run {

namespace {

constexpr std::size_t kConfigItems = 13;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

// Reads one item starting at `pos`; leaves `pos` after the item's separator.
class ItemReader {
 public:
  ItemReader(std::string_view bytes, std::string_view source) : bytes_(bytes), source_(source) {
    if (bytes_.substr(0, kByteOrderMark.size()) == kByteOrderMark) pos_ = kByteOrderMark.size();
  }

  std::string Next() {
    while (pos_ < bytes_.size() && IsBlank(bytes_[pos_])) ++pos_;
    if (pos_ >= bytes_.size()) {
      throw Error(
          ErrorKind::kSettings, errnum::kInputPastEndOfFile,
          "Input past end of file (" + std::string(source_) + " holds fewer than 13 items)");
    }
    std::string item;
    if (bytes_[pos_] == '"') {
      const std::size_t close = bytes_.find('"', pos_ + 1);
      const std::size_t end = close == std::string_view::npos ? bytes_.size() : close;
      item.assign(bytes_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = close == std::string_view::npos ? bytes_.size() : close + 1;
      while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !IsLineEnd(bytes_[pos_])) ++pos_;
    } else {
      const std::size_t start = pos_;
      while (pos_ < bytes_.size() && bytes_[pos_] != ',' && !IsLineEnd(bytes_[pos_])) ++pos_;
      std::size_t end = pos_;
      while (end > start && IsBlank(bytes_[end - 1])) --end;
      item.assign(bytes_.substr(start, end - start));
    }
    SkipSeparator();
    return item;
  }

 private:
  void SkipSeparator() {
    if (pos_ >= bytes_.size()) return;
    if (bytes_[pos_] == '\r' && pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '\n') {
      pos_ += 2;
    } else {
      ++pos_;
    }
  }

  std::string_view bytes_;
  std::string_view source_;
  std::size_t pos_ = 0;
};

[[noreturn]] void ThrowFileError(int error, const std::filesystem::path& path) {
  if (error == ENOENT || error == ENOTDIR) {
    throw Error(ErrorKind::kSettings, errnum::kFileNotFound, "File not found: " + path.string());
  }
  throw Error(ErrorKind::kSettings, errnum::kPathFileAccessError,
              "Path/File access error: " + path.string() + ": " + std::strerror(error));
}

// config.txt decides where the program connects (and the program adds the database password to
// that connection by itself) and where the alerts go; whoever can write the folder can replace
// config.txt in it.
constexpr std::string_view kSettingsHarm = "send the database password anywhere";
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

// Reads the file at `path`, held to the rule of the settings all the way to it; `what` names it
// in reports, `info` gets what the opened file is.
std::string ReadWholeFile(const std::filesystem::path& path, std::string_view what,
                          struct stat& info) {
  CheckWayToFile(path, what, kSettingsHarm);
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) ThrowFileError(errno, path);
  // Checked on the file that was opened, not on its name, so it cannot be swapped in between.
  if (::fstat(file.get(), &info) != 0) ThrowFileError(errno, path);
  CheckOnlyRunnerControls(info, path, what, kSettingsHarm, kOthersWrite);
  std::string bytes;
  char buffer[4096];
  while (true) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowFileError(errno, path);
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
    // The settings are a few lines; a huge file is not a settings file.
    if (bytes.size() > (1u << 20)) ThrowFileError(EFBIG, path);
  }
  return bytes;
}

// A folder that others could change could hold a settings file of theirs.
void CheckFolder(const std::filesystem::path& folder, std::string_view what) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) ThrowFileError(errno, folder);
  CheckOnlyRunnerControls(info, folder, what, kSettingsHarm, kOthersWrite);
}

}  // namespace

std::vector<std::string> ReadSequentialItems(std::string_view bytes, std::size_t count,
                                             std::string_view source) {
  ItemReader reader(bytes, source);
  std::vector<std::string> items;
  items.reserve(count);
  for (std::size_t i = 0; i < count; ++i) items.push_back(reader.Next());
  return items;
}

void ReadConfig(const std::filesystem::path& program_folder,
                const std::filesystem::path& executable, RunSettings& settings,
                const std::filesystem::path& settings_file) {
  CheckFolder(program_folder, "the program folder");
  // The program runs with the database password: its file is held to the same rule.
  struct stat program {};
  if (::stat(executable.c_str(), &program) != 0) ThrowFileError(errno, executable);
  CheckOnlyRunnerControls(program, executable, "the program file",
                          "change what runs with the database password", kOthersWrite);
  const bool given = !settings_file.empty();
  const std::filesystem::path path = given ? settings_file : program_folder / "config.txt";
  const std::string_view what = given ? "the settings file" : "config.txt";
  struct stat file {};
  const std::vector<std::string> items = ReadSequentialItems(
      ReadWholeFile(path, what, file), kConfigItems, given ? path.string() : std::string(what));
  // A password written in it is for the runner's eyes only (msmtp refuses such a file too).
  const data::ConnectionString parts = data::ConnectionString::Read(items[2]);
  if ((parts.Find("PWD") || parts.Find("Password")) && (file.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(file.st_mode & 07777));
    throw Error(ErrorKind::kUnsafe, errnum::kPermissionDenied,
                "Permission denied: " + std::string(what) + " " + path.string() +
                    " holds the database password and others can read it (mode " + mode +
                    "). Fix: chmod 600 " + path.string());
  }
  // Item 1 stands alone; then six pairs whose second item is kept.
  settings.gConnectString = items[2];
  settings.gConfigItem3 = items[4];
  settings.gConfigItem4 = items[6];
  settings.gConfigItem5 = items[8];
  settings.gTourAlertTo = std::string(TrimBlanks(items[10]));  // a quoted item keeps its blanks
  settings.gTourAlertDays = items[12];
}

}  // namespace corvane::run
