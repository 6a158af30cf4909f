// Header fields: display names, unstructured text and folding. Every value arrives as UTF-8
// free of CR, LF and NUL (address_check.h); what is not plain printable ASCII goes out as
// RFC 2047 encoded words, so the header stays 7-bit and decodes back to the same text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::mail {

// atext (RFC 5322 §3.2.3): what an atom, and the dot-atom of an address, are made of.
bool IsAtext(char c);

// Pieces of a header value between which the line may be folded.
using HeaderTokens = std::vector<std::string>;

// The longest line a header field gets where its content allows (RFC 5322 §2.1.1 says 78;
// RFC 2047 §2 limits lines holding encoded words to 76).
inline constexpr std::size_t kHeaderLineLimit = 76;

// "<name>: " and the tokens joined by single blanks, folded (RFC 5322 §2.2.3: CR LF inserted
// before a blank) so that no line passes kHeaderLineLimit unless one token alone is longer.
// The result ends with CR LF. No tokens gives "<name>:" with nothing after it.
std::string FoldHeader(std::string_view name, const HeaderTokens& tokens);

// Unstructured text (a Subject): printable ASCII words with single blanks travel as they are;
// anything else (non-ASCII, control characters, leading, trailing or repeated blanks, "=?",
// a word too long to fold) becomes encoded words. `header_name` sizes the first line.
HeaderTokens UnstructuredTokens(std::string_view text, std::string_view header_name);

// A mailbox (RFC 5322 §3.4): "address" alone when the name is empty, else the display name as
// atoms, as a quoted string (§3.2.4) when it holds other characters, or as encoded words, then
// "<address>".
HeaderTokens MailboxTokens(std::string_view display_name, std::string_view address,
                           std::string_view header_name);

// `text` as RFC 2047 encoded words ("=?utf-8?q?...?="), Q encoding limited to the characters
// allowed in a phrase (§5 rule 3), each word whole UTF-8 characters and at most 75 characters;
// the first at most `first_limit`.
HeaderTokens EncodedWords(std::string_view text, std::size_t first_limit);

}  // namespace corvane::mail
