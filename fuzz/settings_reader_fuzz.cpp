// Any bytes: the reader gives the items asked for or fails with "input past end of file";
// every item it gives is a piece of the input, and what follows the last item asked for does
// not change the items before it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/error.h"
#include "run/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const auto items = corvane::run::ReadSequentialItems(bytes, 13);
    if (items.size() != 13) std::abort();
    for (const auto& item : items) {
      if (bytes.find(item) == std::string_view::npos) std::abort();
    }
    // Asking for one item more gives the same first 13, or runs out.
    try {
      const auto more = corvane::run::ReadSequentialItems(bytes, 14);
      if (!std::equal(items.begin(), items.end(), more.begin())) std::abort();
    } catch (const corvane::Error& error) {
      if (error.number() != corvane::errnum::kInputPastEndOfFile) std::abort();
    }
  } catch (const corvane::Error& error) {
    if (error.number() != corvane::errnum::kInputPastEndOfFile) std::abort();
  }
  return 0;
}
