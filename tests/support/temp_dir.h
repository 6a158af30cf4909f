// A fresh folder under $TMPDIR (or /tmp), only its owner may enter, removed with everything in
// it on destruction; and the other private things of a test: whole files and secrets.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Whole-file helpers for tests.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
std::string ReadFile(const std::filesystem::path& path);

// 32 hex digits from the kernel's random source: a password for one server of one test.
std::string RandomSecret();

// Makes `user` the owner of `path` (for a server that runs as a user of its own); throws when
// that fails.
void GiveToUser(const std::filesystem::path& path, const std::string& user);

// A database server's folder: `folder` and its socket folder `folder`/sockets, which only the
// server's `user` may enter (mode 0700), both given to `user` (none: the test's own user).
// Returns the socket folder.
std::filesystem::path MakeServerFolder(const std::filesystem::path& folder,
                                       const std::optional<std::string>& user);

}  // namespace corvane::testing
