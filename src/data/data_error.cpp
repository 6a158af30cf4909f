#include "data/data_error.h"

#include "base/error.h"

namespace corvane::data {

void ThrowDatabaseError(long number, const std::string& description) {
  throw Error(ErrorKind::kDatabase, number, description);
}

void ThrowRowCannotBeLocated(std::string_view reason) {
  throw Error(ErrorKind::kDatabase, errnum::kRowCannotBeLocated,
              "Row cannot be located for updating: " + std::string(reason));
}

}  // namespace corvane::data
