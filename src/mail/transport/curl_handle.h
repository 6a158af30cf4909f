// libcurl resources owned by RAII, and the one check for libcurl results.
#pragma once

#include <curl/curl.h>

#include <memory>
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

}  // namespace corvane::mail
