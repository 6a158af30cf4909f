#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace corvane::testing {

// Without SO_REUSEADDR: with it, another socket that sets it too could bind the same port while
// this one does not listen.
LoopbackSocket::LoopbackSocket(Mode mode) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!fd_.valid() || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      (mode == Mode::kListening && ::listen(fd_.get(), 128) != 0) ||
      ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot bind a socket on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
}

std::vector<int> ListeningPorts(pid_t pid) {
  const std::filesystem::path proc = "/proc/" + std::to_string(pid);
  std::set<std::string> inodes;  // of the sockets among its descriptors: "socket:[12345]"
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(proc / "fd", ignored)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
    if (target.starts_with("socket:[") && target.ends_with("]")) {
      inodes.insert(target.substr(8, target.size() - 9));
    }
  }
  // Its own network namespace's table: "sl local_address rem_address st ... uid timeout inode",
  // addresses as hex "0100007F:1F90", state 0A for LISTEN.
  std::vector<int> ports;
  std::ifstream table(proc / "net" / "tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode)) {
      continue;
    }
    if (state == "0A" && inodes.count(inode) != 0) {
      ports.push_back(std::stoi(local.substr(local.find(':') + 1), nullptr, 16));
    }
  }
  return ports;
}

}  // namespace corvane::testing
