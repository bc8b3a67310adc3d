// A small JSON writer and reader for the run's own status files: strings
// escaped as JSON requires, and a reader that turns one document into a tree
// of values, refusing anything malformed.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zub32 {

// Appends bytes as a quoted JSON string. Quotes, backslashes and control
// bytes are escaped; bytes that are not valid UTF-8 become U+FFFD. When the
// string as written (without its quotes) would be longer than max_length
// bytes, it is cut between two characters or escapes and ends in "…" within
// that length, so that it stays valid JSON and UTF-8.
void AppendJsonString(std::string& out, std::string_view bytes,
                      std::size_t max_length = std::numeric_limits<std::size_t>::max());

// The bytes as a quoted JSON string, as AppendJsonString writes them.
std::string JsonString(std::string_view bytes,
                       std::size_t max_length = std::numeric_limits<std::size_t>::max());

struct JsonMember;

struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  std::string text;  // a string's content, or a number as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // an object's members, in document order

  // The first member of that name of an object; null when there is none or
  // this is no object.
  const JsonValue* Member(std::string_view name) const;
  // A number written as a whole decimal number that fits 64 bits.
  std::optional<std::int64_t> AsInteger() const;
  std::optional<std::string> AsString() const;
  std::optional<bool> AsBool() const;
};

// One member of an object. Named fields rather than a pair: a pair may not
// hold a type that is still incomplete where the vector of them is declared.
struct JsonMember {
  std::string name;
  JsonValue value;
};

// Documents nested deeper than this are refused.
inline constexpr int kMaxJsonDepth = 32;

// Reads one whole JSON document (blanks around it allowed); nullopt when it
// is malformed, nested too deeply or followed by anything else.
std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace zub32
