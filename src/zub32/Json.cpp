#include "zub32/Json.h"

#include <charconv>
#include <cstdio>
#include <utility>

#include "zub32/PrintableText.h"

namespace zub32 {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
// Ends a string cut short: U+2026, the horizontal ellipsis.
constexpr std::string_view kCutMark = "\xE2\x80\xA6";

// The length of the valid UTF-8 sequence at the start of bytes, 0 when it
// is not one (overlong forms, surrogates and code points past U+10FFFF
// included).
std::size_t Utf8SequenceLength(std::string_view bytes) {
  const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document() {
    std::optional<JsonValue> value = Value(0);
    SkipBlanks();
    if (!value || at_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipBlanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool Consume(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::optional<JsonValue> Value(int depth) {
    if (depth > kMaxJsonDepth) return std::nullopt;
    SkipBlanks();
    if (at_ >= text_.size()) return std::nullopt;
    JsonValue value;
    const char c = text_[at_];
    if (c == '{') return Object(depth);
    if (c == '[') return Array(depth);
    if (c == '"') {
      std::optional<std::string> text = String();
      if (!text) return std::nullopt;
      value.type = JsonValue::Type::kString;
      value.text = std::move(*text);
      return value;
    }
    if (Consume("null")) return value;
    const bool is_true = Consume("true");
    if (is_true || Consume("false")) {
      value.type = JsonValue::Type::kBool;
      value.boolean = is_true;
      return value;
    }
    return Number();
  }

  std::optional<JsonValue> Number() {
    const std::size_t start = at_;
    const auto digits = [this]() {
      const std::size_t first = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - first;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const std::size_t integer_start = at_;
    const std::size_t integer_digits = digits();
    if (integer_digits == 0 || (integer_digits > 1 && text_[integer_start] == '0')) {
      return std::nullopt;
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) return std::nullopt;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) return std::nullopt;
    }
    JsonValue value;
    value.type = JsonValue::Type::kNumber;
    value.text = std::string(text_.substr(start, at_ - start));
    return value;
  }

  std::optional<unsigned> Hex4() {
    if (at_ + 4 > text_.size()) return std::nullopt;
    unsigned code = 0;
    const auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
    if (error != std::errc() || end != text_.data() + at_ + 4) return std::nullopt;
    at_ += 4;
    return code;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // An escape after its backslash; a lone surrogate becomes U+FFFD.
  bool Escape(std::string& out) {
    if (at_ >= text_.size()) return false;
    const char c = text_[at_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    std::optional<unsigned> code = Hex4();
    if (!code) return false;
    if (*code >= 0xD800 && *code <= 0xDBFF && Consume("\\u")) {
      const std::optional<unsigned> low = Hex4();
      if (!low) return false;
      if (*low >= 0xDC00 && *low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00));
        return true;
      }
      out += kReplacement;
      code = low;
    }
    if (*code >= 0xD800 && *code <= 0xDFFF) {
      out += kReplacement;
    } else {
      AppendUtf8(out, *code);
    }
    return true;
  }

  std::optional<std::string> String() {
    ++at_;
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c == '\\') {
        ++at_;
        if (!Escape(out)) return std::nullopt;
        continue;
      }
      const std::size_t length = Utf8SequenceLength(text_.substr(at_));
      if (length == 0) return std::nullopt;
      out.append(text_.substr(at_, length));
      at_ += length;
    }
    return std::nullopt;
  }

  std::optional<JsonValue> Array(int depth) {
    ++at_;
    JsonValue value;
    value.type = JsonValue::Type::kArray;
    SkipBlanks();
    if (Consume("]")) return value;
    while (true) {
      std::optional<JsonValue> item = Value(depth + 1);
      if (!item) return std::nullopt;
      value.items.push_back(std::move(*item));
      SkipBlanks();
      if (Consume("]")) return value;
      if (!Consume(",")) return std::nullopt;
    }
  }

  std::optional<JsonValue> Object(int depth) {
    ++at_;
    JsonValue value;
    value.type = JsonValue::Type::kObject;
    SkipBlanks();
    if (Consume("}")) return value;
    while (true) {
      SkipBlanks();
      if (at_ >= text_.size() || text_[at_] != '"') return std::nullopt;
      std::optional<std::string> name = String();
      if (!name) return std::nullopt;
      SkipBlanks();
      if (!Consume(":")) return std::nullopt;
      std::optional<JsonValue> member = Value(depth + 1);
      if (!member) return std::nullopt;
      value.members.push_back({std::move(*name), std::move(*member)});
      SkipBlanks();
      if (Consume("}")) return value;
      if (!Consume(",")) return std::nullopt;
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

void AppendJsonString(std::string& out, std::string_view bytes, std::size_t max_length) {
  BoundedText text(max_length, kCutMark);
  char escape[8];
  while (!bytes.empty()) {
    const unsigned char c = static_cast<unsigned char>(bytes.front());
    std::size_t length = Utf8SequenceLength(bytes);
    std::string_view piece = bytes.substr(0, length);
    if (length == 0) {
      piece = kReplacement;
      length = 1;
    } else if (c == '"' || c == '\\') {
      escape[0] = '\\';
      escape[1] = static_cast<char>(c);
      piece = std::string_view(escape, 2);
    } else if (c == '\n') {
      piece = "\\n";
    } else if (c == '\r') {
      piece = "\\r";
    } else if (c == '\t') {
      piece = "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      piece = escape;
    }
    if (!text.Append(piece)) break;
    bytes.remove_prefix(length);
  }
  out += '"';
  out += text.text();
  out += '"';
}

std::string JsonString(std::string_view bytes, std::size_t max_length) {
  std::string out;
  AppendJsonString(out, bytes, max_length);
  return out;
}

const JsonValue* JsonValue::Member(std::string_view name) const {
  for (const auto& [member_name, member] : members) {
    if (member_name == name) return &member;
  }
  return nullptr;
}

std::optional<std::int64_t> JsonValue::AsInteger() const {
  if (type != Type::kNumber) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::string> JsonValue::AsString() const {
  if (type != Type::kString) return std::nullopt;
  return text;
}

std::optional<bool> JsonValue::AsBool() const {
  if (type != Type::kBool) return std::nullopt;
  return boolean;
}

std::optional<JsonValue> ParseJson(std::string_view text) { return Reader(text).Document(); }

}  // namespace zub32
