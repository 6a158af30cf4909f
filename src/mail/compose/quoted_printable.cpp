#include "mail/compose/quoted_printable.h"

namespace corvane::mail {

namespace {

constexpr std::size_t kMaxEncodedLine = 76;  // RFC 2045 §6.7 rule 5, the "=" included
constexpr char kHex[] = "0123456789ABCDEF";

class Encoder {
 public:
  explicit Encoder(std::size_t capacity) { out_.reserve(capacity); }

  // Appends one input byte as a literal or as =XX, with a soft line break first if the line
  // would grow past its limit (one column is kept for the "=").
  void Put(unsigned char b, bool encode) {
    const std::size_t width = encode ? 3 : 1;
    if (column_ + width > kMaxEncodedLine - 1) {
      out_ += "=\r\n";
      column_ = 0;
    }
    if (encode) {
      out_ += '=';
      out_ += kHex[b >> 4];
      out_ += kHex[b & 0x0F];
    } else {
      out_ += static_cast<char>(b);
    }
    column_ += width;
  }
  void HardBreak() {
    out_ += "\r\n";
    column_ = 0;
  }
  void SoftBreak() { out_ += "=\r\n"; }
  // True when a one-column literal would begin an encoded line.
  bool LiteralStartsLine() const { return column_ == 0 || column_ + 1 > kMaxEncodedLine - 1; }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
  std::size_t column_ = 0;
};

}  // namespace

std::string EncodeQuotedPrintable(std::string_view body) {
  Encoder encoder(body.size() + body.size() / 8 + 8);
  const std::size_t n = body.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(body[i]);
    if (b == '\r' && i + 1 < n && body[i + 1] == '\n') {
      encoder.HardBreak();
      ++i;
      continue;
    }
    const bool line_ends_here =
        i + 1 == n || (body[i + 1] == '\r' && i + 2 < n && body[i + 2] == '\n');
    bool encode;
    if (b == ' ' || b == '\t') {
      encode = line_ends_here;
    } else if (b == 'F') {
      encode = encoder.LiteralStartsLine() && body.substr(i, 5) == "From ";
    } else {
      encode = b < 33 || b > 126 || b == '=';
    }
    encoder.Put(b, encode);
  }
  if (n > 0 && !body.ends_with("\r\n")) encoder.SoftBreak();
  return encoder.Take();
}

}  // namespace corvane::mail
