#include "support/temp_dir.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace corvane::testing {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::string RandomSecret() {
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    throw std::runtime_error("getrandom failed");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string secret;
  for (const unsigned char b : bytes) {
    secret += kHex[b >> 4];
    secret += kHex[b & 0xF];
  }
  return secret;
}

void GiveToUser(const std::filesystem::path& path, const std::string& user) {
  const passwd* entry = getpwnam(user.c_str());
  if (entry == nullptr || chown(path.c_str(), entry->pw_uid, entry->pw_gid) != 0) {
    throw std::runtime_error("cannot give " + path.string() + " to user " + user);
  }
}

std::filesystem::path MakeServerFolder(const std::filesystem::path& folder,
                                       const std::optional<std::string>& user) {
  const std::filesystem::path sockets = folder / "sockets";
  std::filesystem::create_directory(sockets);
  std::filesystem::permissions(sockets, std::filesystem::perms::owner_all);
  if (user) {
    GiveToUser(folder, *user);
    GiveToUser(sockets, *user);
  }
  return sockets;
}

}  // namespace corvane::testing
