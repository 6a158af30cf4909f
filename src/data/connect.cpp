#include "base/error.h"
#include "data/connection.h"

namespace corvane::data {

std::unique_ptr<Connection> Connect(const ConnectOptions&) {
  throw Error(ErrorKind::kDatabase, 0, "no database engine is built in yet");
}

}  // namespace corvane::data
