// Arbitrary text as vesk.ini, and every value in it through the readers of
// the keys: hosts, syslog and the two time limits. Besides crashes and
// sanitizer findings it checks that keys come out lower-cased, trimmed and
// free of line breaks, that every warning names a line of the file, and
// that whatever a value reader accepts is within its range and reads the
// same again from its own text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zub32/Config.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void CheckEndpoint(std::string_view text) {
  const std::optional<zub32::Endpoint> endpoint = zub32::ParseEndpoint(text, 80);
  if (!endpoint) return;
  Check(!endpoint->host.empty());
  Check(endpoint->port >= 1 && endpoint->port <= 65535);
  for (char c : endpoint->host) Check(!IsBlank(c) && c != '/' && c != '[' && c != ']');
  const std::optional<zub32::Endpoint> again = zub32::ParseEndpoint(endpoint->text, 80);
  Check(again && again->host == endpoint->host && again->port == endpoint->port);
}

void CheckSyslog(std::string_view text) {
  const std::optional<zub32::SyslogSetting> setting = zub32::ParseSyslog(text);
  if (!setting || setting->mode != zub32::SyslogMode::kUnicast) return;
  Check(!setting->host.empty());
  Check(setting->port >= 1 && setting->port <= 65535);
}

void CheckCount(std::string_view text, int max) {
  const std::optional<int> count = zub32::ParseBoundedCount(text, max);
  if (!count) return;
  Check(*count >= 1 && *count <= max);
  Check(zub32::ParseBoundedCount(std::to_string(*count), max) == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> warnings;
  const std::map<std::string, std::string> values = zub32::ParseIni(text, warnings);

  std::size_t lines = 1;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  Check(warnings.size() <= lines);
  for (const std::string& warning : warnings) {
    Check(warning.starts_with(std::string(zub32::kConfigFileName) + " line "));
  }

  for (const auto& [key, value] : values) {
    Check(!key.empty());
    Check(!IsBlank(key.front()) && !IsBlank(key.back()));
    Check(key.find('\n') == std::string::npos && key.find('=') == std::string::npos);
    for (char c : key) Check(!(c >= 'A' && c <= 'Z'));
    Check(value.find('\n') == std::string::npos);
    CheckEndpoint(value);
    CheckSyslog(value);
    CheckCount(value, zub32::kMaxReadTimeoutMs);
    CheckCount(value, zub32::kMaxRequestDeadlineSeconds);
  }
  // The whole text as one value too, line breaks and all.
  CheckEndpoint(text);
  CheckSyslog(text);
  CheckCount(text, zub32::kMaxReadTimeoutMs);
  return 0;
}
