// The general value: what a database field yields and what the mail sender takes for each
// parameter. It is empty, Null, a Boolean, a whole number, a floating-point number, a date-time
// or text. Conversions and text forms live in text_form.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "base/date_time.h"

namespace corvane {

class Value {
 public:
  enum class Type { kEmpty, kNull, kBoolean, kInteger, kDouble, kDateTime, kText };

  Value() = default;  // empty
  static Value Null() { return Value(NullTag{}); }

  Value(bool b) : v_(b) {}                                  // NOLINT: implicit on purpose
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}        // NOLINT
  Value(long i) : v_(static_cast<std::int64_t>(i)) {}       // NOLINT
  Value(long long i) : v_(static_cast<std::int64_t>(i)) {}  // NOLINT
  Value(double d) : v_(d) {}                                // NOLINT
  Value(DateTime d) : v_(d) {}                              // NOLINT
  Value(std::string s) : v_(std::move(s)) {}                // NOLINT
  Value(std::string_view s) : v_(std::string(s)) {}         // NOLINT
  Value(const char* s) : v_(std::string(s)) {}              // NOLINT

  Type type() const { return static_cast<Type>(v_.index()); }
  bool is_empty() const { return type() == Type::kEmpty; }
  bool is_null() const { return type() == Type::kNull; }
  bool is_boolean() const { return type() == Type::kBoolean; }
  bool is_integer() const { return type() == Type::kInteger; }
  bool is_double() const { return type() == Type::kDouble; }
  bool is_number() const { return is_integer() || is_double(); }
  bool is_date() const { return type() == Type::kDateTime; }
  bool is_text() const { return type() == Type::kText; }

  // Accessors for the held alternative; calling the wrong one is a programming error.
  bool boolean() const { return std::get<bool>(v_); }
  std::int64_t integer() const { return std::get<std::int64_t>(v_); }
  double real() const { return std::get<double>(v_); }
  DateTime date() const { return std::get<DateTime>(v_); }
  const std::string& text() const { return std::get<std::string>(v_); }

  // Same type and same content (not the platform's loose comparison; see text_form.h).
  bool operator==(const Value&) const = default;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  explicit Value(NullTag n) : v_(n) {}

  // The order matches Type.
  std::variant<std::monostate, NullTag, bool, std::int64_t, double, DateTime, std::string> v_;
};

}  // namespace corvane
