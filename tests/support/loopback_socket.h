// A TCP socket on 127.0.0.1 at a port the kernel picked, owned by the test for the socket's
// whole life: no other process can listen on that port meanwhile, so whatever a test reaches
// there is provably its own. Listening (a server's socket, perhaps handed to a child process
// that serves on it, or one that is never accepted from), or only bound, so that every
// connection to the port is refused.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "base/file_descriptor.h"

namespace corvane::testing {

class LoopbackSocket {
 public:
  enum class Mode { kListening, kRefusing };
  explicit LoopbackSocket(Mode mode = Mode::kListening);

  int fd() const { return fd_.get(); }
  int port() const { return port_; }
  std::string host_port() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  FileDescriptor fd_;
  int port_ = 0;
};

// The IPv4 TCP ports process `pid` listens on through descriptors of its own, from /proc: for
// a server that binds its port itself, the port that is provably this process's.
std::vector<int> ListeningPorts(pid_t pid);

}  // namespace corvane::testing
