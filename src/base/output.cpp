#include "base/output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>

namespace corvane {

namespace {

// systemd sets JOURNAL_STREAM=<device>:<inode> of the stream it connects to the journal; a
// descriptor is that stream when fstat agrees (a child's redirection would not).
bool IsJournal(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  const std::string_view text(stream);
  unsigned long long device = 0;
  unsigned long long inode = 0;
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const auto [device_end, device_error] = std::from_chars(text.data(), text.data() + colon, device);
  const auto [inode_end, inode_error] =
      std::from_chars(text.data() + colon + 1, text.data() + text.size(), inode);
  if (device_error != std::errc() || inode_error != std::errc() ||
      device_end != text.data() + colon || inode_end != text.data() + text.size()) {
    return false;
  }
  struct stat info {};
  return ::fstat(fd, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

}  // namespace

Output::Output(int fd, const SecretGuard& guard)
    : fd_(fd), guard_(guard), journal_(IsJournal(fd)) {}

bool Output::Write(std::string_view outside, Priority priority) const {
  // Line by line: a value that runs to the end of its text (an unclosed quote) is masked to the
  // end of its line, never across the lines after it.
  GuardedText text;
  for (std::size_t at = 0; at < outside.size();) {
    const std::size_t end = std::min(outside.find('\n', at), outside.size());
    text += guard_.Mask(outside.substr(at, end - at));
    if (end < outside.size()) text += Own("\n");
    at = end + 1;
  }
  return Write(text, priority);
}

bool Output::Write(const GuardedText& text, Priority priority) const {
  std::string_view bytes = text.str();
  std::string prefixed;
  if (journal_) {
    // Built by appends: GCC 12 at -O3 warns falsely (-Wrestrict) of "<" + std::string.
    std::string prefix = "<";
    prefix.append(std::to_string(static_cast<int>(priority))).push_back('>');
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t end = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
      prefixed.append(prefix).append(bytes.substr(at, end - at));
      at = end;
    }
    bytes = prefixed;
  }
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace corvane
