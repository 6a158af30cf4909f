#include "mail/transport/curl_handle.h"

#include <string>

#include "mail/mail_error.h"

namespace corvane::mail {

CurlGlobal::CurlGlobal() {
  const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (code != CURLE_OK) {
    ThrowMailFailure(code, std::string("libcurl cannot initialise: ") + curl_easy_strerror(code));
  }
}

CurlGlobal::~CurlGlobal() {
  curl_global_cleanup();
}

void CheckCurl(CURLcode code, std::string_view what) {
  if (code == CURLE_OK) return;
  ThrowMailFailure(code, "mail: libcurl refused " + std::string(what) + ": " +
                             curl_easy_strerror(code) + " (curl " + std::to_string(code) + ")");
}

void AppendCurlList(CurlList& list, const char* text) {
  curl_slist* longer = curl_slist_append(list.get(), text);
  if (longer == nullptr) ThrowMailFailure(CURLE_OUT_OF_MEMORY, "mail: out of memory");
  (void)list.release();  // `longer` now owns the old nodes
  list.reset(longer);
}

}  // namespace corvane::mail
