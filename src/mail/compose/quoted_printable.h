// Quoted-printable body encoding (RFC 2045 §6.7): 7-bit output, every encoded line at most 76
// characters, so the body passes any relay (RFC 5322 §2.1.1 allows 998) and survives servers
// without 8BITMIME.
#pragma once

#include <string>
#include <string_view>

namespace corvane::mail {

// Encodes `body` byte for byte. Each CR LF pair is a line break and stays CR LF; a bare CR or a
// bare LF is encoded (=0D, =0A), so it decodes to the same byte instead of being turned into a
// line break by a relay. Blanks before a line break are encoded (rule 3), "=" always, "From "
// at the start of a line as "=46rom " (mbox-style stores would otherwise change it). A body
// that does not end with CR LF ends with a soft line break, so nothing is added on decoding;
// the output always ends with CR LF unless the body is empty.
std::string EncodeQuotedPrintable(std::string_view body);

}  // namespace corvane::mail
