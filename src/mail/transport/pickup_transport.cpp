#include "mail/transport/pickup_transport.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "base/file_descriptor.h"
#include "mail/mail_error.h"

namespace corvane::mail {

namespace {

[[noreturn]] void FailWith(int error, const std::string& doing, const std::filesystem::path& path) {
  ThrowMailFailure(ForeignCode::System(error),
                   "cannot " + doing + " " + Quoted(path.string()) + ": " + std::strerror(error));
}

// Removes the temporary file unless the write was committed.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!committed_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void Commit() { committed_ = true; }

 private:
  std::filesystem::path path_;
  bool committed_ = false;
};

void WriteAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      FailWith(errno, "write", path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void SyncFolder(const std::filesystem::path& folder) {
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 || ::fsync(dir.get()) != 0) FailWith(errno, "sync the folder", folder);
}

}  // namespace

PickupTransport::PickupTransport(std::filesystem::path folder, UniqueTokens& tokens,
                                 WaitWatch* watch)
    : folder_(std::move(folder)), tokens_(tokens), watch_(watch) {}

long PickupTransport::Deliver(const Envelope&, const ComposedMessage& message,
                              const DeliveryOptions& options) {
  // A folder on a network file system can hang like a server.
  const BoundedWait wait(watch_, options.time_limit, "writing the message into the pickup folder");
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) FailWith(error.value(), "make the pickup folder", folder_);

  const std::string token = tokens_.Next();
  const std::filesystem::path final_path = folder_ / (token + ".eml");
  TemporaryFile temporary(folder_ / ("." + token + ".tmp"));
  {
    FileDescriptor file(::open(temporary.path().c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (file.get() < 0) FailWith(errno, "create", temporary.path());
    // A file is 8-bit clean, so the 8bit form goes where the message offers one.
    WriteAll(file.get(), message.eight_bit.empty() ? message.seven_bit : message.eight_bit,
             temporary.path());
    if (::fsync(file.get()) != 0) FailWith(errno, "sync", temporary.path());
    if (file.Close() != 0) FailWith(errno, "close", temporary.path());
  }
  if (::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, final_path.c_str(),
                  RENAME_NOREPLACE) != 0) {
    FailWith(errno, "rename to", final_path);
  }
  temporary.Commit();
  SyncFolder(folder_);
  last_file_ = "wrote " + final_path.string();
  return 0;
}

std::string PickupTransport::Check(const std::vector<Envelope>&, const DeliveryOptions&) {
  // A folder that is not there yet is made by the first message (create_directories), so the
  // nearest folder that is there must let it be made.
  std::filesystem::path there = folder_;
  std::error_code error;
  while (!std::filesystem::exists(there, error) && there.has_relative_path()) {
    there = there.parent_path();
  }
  if (!std::filesystem::is_directory(there, error)) {
    FailWith(error ? error.value() : ENOTDIR, "find the pickup folder", folder_);
  }
  // Whether a file can be made, asked of the kernel rather than guessed from the mode bits
  // (read-only mounts, ACLs, a sandbox).
  if (::access(there.c_str(), W_OK | X_OK) != 0) FailWith(errno, "write into", there);
  if (there == folder_) {
    return "pickup folder " + folder_.string() + " is there and can be written";
  }
  return "pickup folder " + folder_.string() + " is not there yet; the first message makes it in " +
         there.string();
}

}  // namespace corvane::mail
