// libcurl resources owned by RAII, and the one check for libcurl results.
#pragma once

#include <curl/curl.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace corvane::mail {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlListDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// Holds libcurl's global initialisation (counted by libcurl) for as long as it lives.
class CurlGlobal {
 public:
  CurlGlobal();  // fails with kMail when libcurl cannot initialise
  ~CurlGlobal();
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
};

// Fails with kMail, the curl code as its number, when `code` is not CURLE_OK. `what` names
// the call ("CURLOPT_URL").
void CheckCurl(CURLcode code, std::string_view what);

// curl_easy_setopt with its result checked.
template <typename T>
void SetCurlOption(CURL* handle, CURLoption option, T value, std::string_view name) {
  CheckCurl(curl_easy_setopt(handle, option, value), name);
}

// Appends `text` to `list` (copied by libcurl); fails with kMail when out of memory.
void AppendCurlList(CurlList& list, const char* text);

// The CA certificates (PEM) in `path` (CORVANE_MAIL_CA_FILE), for CURLOPT_CAINFO_BLOB. Read only
// from a regular file, and opened without waiting: a FIFO or device put there would hold a
// request past its limit. Fails (kMail) for anything else or a file that cannot be read.
std::string ReadCaFile(const std::filesystem::path& path);
// Verifies peers with `pem` (ReadCaFile) instead of the system's CA file.
void SetCaCertificates(CURL* handle, const std::string& pem);

}  // namespace corvane::mail
