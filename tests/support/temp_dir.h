// A fresh folder under $TMPDIR (or /tmp), only its owner may enter, removed with everything in
// it on destruction; and the other private things of a test: whole files and secrets.
#pragma once

#include <filesystem>
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

}  // namespace corvane::testing
