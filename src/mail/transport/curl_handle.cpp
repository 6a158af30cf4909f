#include "mail/transport/curl_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/file_descriptor.h"
#include "mail/mail_error.h"

namespace corvane::mail {

CurlGlobal::CurlGlobal() {
  const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (code != CURLE_OK) {
    ThrowMailFailure(CurlCode(code),
                     std::string("libcurl cannot initialise: ") + curl_easy_strerror(code));
  }
}

CurlGlobal::~CurlGlobal() {
  curl_global_cleanup();
}

void CheckCurl(CURLcode code, std::string_view what) {
  if (code == CURLE_OK) return;
  ThrowMailFailure(CurlCode(code),
                   "libcurl refused " + std::string(what) + ": " + curl_easy_strerror(code));
}

void AppendCurlList(CurlList& list, const char* text) {
  curl_slist* longer = curl_slist_append(list.get(), text);
  if (longer == nullptr) ThrowMailFailure(CurlCode(CURLE_OUT_OF_MEMORY), "out of memory");
  (void)list.release();  // `longer` now owns the old nodes
  list.reset(longer);
}

std::string ReadCaFile(const std::filesystem::path& path) {
  // Far more than any CA bundle; a bigger file is not one.
  constexpr off_t kLargest = 16 << 20;
  const auto fail = [&](int error, std::string_view why) {
    ThrowMailFailure(ForeignCode::System(error),
                     "cannot use the CA file " + Quoted(path.string()) + ": " + std::string(why));
  };
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!file.valid() || ::fstat(file.get(), &info) != 0) fail(errno, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) fail(EINVAL, "it is not a regular file");
  if (info.st_size > kLargest) fail(EFBIG, "it is too large for a CA file");
  std::string pem(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t size = 0;
  while (size < pem.size()) {
    const ssize_t n = ::read(file.get(), pem.data() + size, pem.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno, std::strerror(errno));
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  pem.resize(size);
  return pem;
}

void SetCaCertificates(CURL* handle, const std::string& pem) {
  curl_blob blob{const_cast<char*>(pem.data()), pem.size(), CURL_BLOB_COPY};
  SetCurlOption(handle, CURLOPT_CAINFO_BLOB, &blob, "CURLOPT_CAINFO_BLOB");
}

}  // namespace corvane::mail
