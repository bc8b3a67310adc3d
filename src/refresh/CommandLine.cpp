#include "refresh/CommandLine.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>
#include <span>

#include "platform/AsciiText.h"
#include "refresh/InstallationCheck.h"
#include "refresh/RunContext.h"
#include "refresh/RunDriver.h"
#include "refresh/StatusCommand.h"
#include "zub32/Config.h"
#include "zub32/SystemInfo.h"

namespace refresh {
namespace {

// An option that may follow the name of a form, at most once. Its help is
// one or more lines, joined by '\n'.
struct FormOption {
  std::string_view name;
  std::string_view help;
};

// One form of the command line: its name and the alias that stands for it,
// the options that may follow, its help and what it runs.
struct Form {
  std::string_view name;
  std::string_view alias = {};
  std::span<const FormOption> options = {};
  std::string_view help;
  int (*handler)(const std::vector<std::string>& arguments);
};

// A refresh run reads only its first argument.
int StartRun(const std::vector<std::string>& arguments) {
  return Run(arguments.empty() ? nullptr : arguments.front().c_str());
}

// By the time the check starts, --online is the only argument it can have.
int StartCheck(const std::vector<std::string>& arguments) { return RunCheck(arguments.size() > 1); }

int ShowStatus(const std::vector<std::string>&) { return RunStatusCommand(); }

int ShowHelp(const std::vector<std::string>&) {
  std::fputs(HelpText().c_str(), stdout);
  return 0;
}

int ShowVersion(const std::vector<std::string>&) {
  std::printf("vesk %s\n", kVersion);
  return 0;
}

constexpr FormOption kCheckOptions[] = {
    {"--online",
     "with --check: also fetch the radar loop page and the station\n"
     "feed once and show their status lines and sizes"},
};

// The first form is the refresh run's, named by its operand: it is taken
// when the first argument is no option.
constexpr Form kForms[] = {
    {.name = "DELAY",
     .help = "animation step of the loop pages in milliseconds, a decimal\n"
             "integer; absent or anything else gives 333",
     .handler = StartRun},
    {.name = "--check",
     .options = kCheckOptions,
     .help = "check the program directory, the configuration, the hosts'\n"
             "names, the background bitmap and the font without running;\n"
             "writes nothing, sends nothing but name look-ups; exits 1 on\n"
             "a problem",
     .handler = StartCheck},
    {.name = "--status",
     .help = "show the last run's status.json for a person; exits 0 OK,\n"
             "1 WARNING, 2 CRITICAL, 3 UNKNOWN",
     .handler = ShowStatus},
    {.name = "--help",
     .alias = "-h",
     .help = "show this help and the configuration in force, then exit",
     .handler = ShowHelp},
    {.name = "--version", .help = "show the version, then exit", .handler = ShowVersion},
};
const Form& kRunForm = kForms[0];

// The column the help's descriptions start in.
constexpr std::size_t kHelpColumn = 15;

std::string FormUsage(const Form& form) {
  if (&form == &kRunForm) return "[" + std::string(form.name) + "]";
  std::string usage(form.name);
  if (!form.alias.empty()) usage += " | " + std::string(form.alias);
  for (const FormOption& option : form.options) usage += " [" + std::string(option.name) + "]";
  return usage;
}

// The help's lines of one entry: the label, then the description with its
// later lines under its first.
std::string HelpEntry(std::string_view label, std::string_view help) {
  std::string text = "  " + std::string(label);
  text.append(text.size() < kHelpColumn ? kHelpColumn - text.size() : 1, ' ');
  std::size_t start = 0;
  for (std::size_t end = help.find('\n'); end != std::string_view::npos; end = help.find('\n')) {
    text += std::string(help.substr(start, end - start)) + "\n" + std::string(kHelpColumn, ' ');
    help.remove_prefix(end + 1);
  }
  return text + std::string(help) + "\n";
}

std::string FormsHelp() {
  std::string text;
  for (const Form& form : kForms) {
    const std::string label = form.alias.empty()
                                  ? std::string(form.name)
                                  : std::string(form.alias) + ", " + std::string(form.name);
    text += HelpEntry(label, form.help);
    for (const FormOption& option : form.options) text += HelpEntry(option.name, option.help);
  }
  return text;
}

std::string ConfigurationHelp(const std::string& directory) {
  const zub32::Configuration config = zub32::LoadConfiguration(directory);
  std::string text = "Program directory: " + directory + "\n";
  text += std::string("  ") +
          (zub32::HomeFromEnvironment().has_value()
               ? "from VESK_HOME"
               : "the executable's directory; VESK_HOME names another") +
          "\n";
  text += "  Every file of a run is read and written there.\n";
  text += "\n";
  text += "Configuration: an environment variable wins over the key in " +
          std::string(zub32::kConfigFileName) + "\n";
  text += "(Key=Value lines in the program directory), which wins over the default.\n";
  text += "A malformed value is reported and the default is used (for Syslog: off).\n";
  text += "\n";
  for (const zub32::ConfigEntry& entry : config.entries) {
    text += "  " + entry.environment + " / " + entry.key + "=\n";
    text += "      " + entry.description + "\n";
    text += "      current: " + (entry.value.empty() ? std::string("(not set)") : entry.value) +
            " (" + zub32::SourceText(entry.source) + ")\n";
  }
  if (!config.warnings.empty()) {
    text += "\nProblems:\n";
    for (const std::string& warning : config.warnings) text += "  " + warning + "\n";
  }
  return text;
}

// The names and aliases of the forms an option selects, in the table's
// order.
std::vector<std::string_view> OptionNames() {
  std::vector<std::string_view> names;
  for (const Form& form : std::span(kForms).subspan(1)) {
    names.push_back(form.name);
    if (!form.alias.empty()) names.push_back(form.alias);
  }
  return names;
}

const Form* SelectForm(std::string_view option) {
  for (const Form& form : std::span(kForms).subspan(1)) {
    if (option == form.name || (!form.alias.empty() && option == form.alias)) return &form;
  }
  return nullptr;
}

// Names the option, and the known one it is likely a typo of, with the usage
// on standard error; nothing is run.
int RefuseOption(const std::string& option, std::span<const std::string_view> known) {
  std::string text = "vesk: unknown option \"" + option + "\"";
  const std::string closest = zub32::ClosestName(option, known);
  if (!closest.empty()) text += "; did you mean " + closest + "?";
  std::fputs((text + "\n" + UsageText()).c_str(), stderr);
  return kExitUsage;
}

// An argument the form does not take would otherwise be dropped unseen, as
// "--check foo" was a check without anything of foo.
int RefuseArgument(const std::string& argument) {
  std::fputs(("vesk: unexpected argument \"" + argument + "\"\n" + UsageText()).c_str(), stderr);
  return kExitUsage;
}

// Whether the argument names a form or an option of one.
bool IsKnownName(std::string_view argument) {
  if (SelectForm(argument) != nullptr) return true;
  for (const Form& form : kForms) {
    for (const FormOption& option : form.options) {
      if (argument == option.name) return true;
    }
  }
  return false;
}

// The refusal of the arguments after the form's name, or nullopt when they
// are options of the form, each at most once. A known name out of place is
// an unexpected argument, not an unknown option.
std::optional<int> RefuseExtraArguments(const Form& form,
                                        const std::vector<std::string>& arguments) {
  std::vector<std::string_view> known;
  for (const FormOption& option : form.options) known.push_back(option.name);
  std::vector<std::string_view> given;
  for (const std::string& argument : std::span(arguments).subspan(1)) {
    const bool takes = std::ranges::find(known, argument) != known.end();
    if (takes && std::ranges::find(given, argument) == given.end()) {
      given.push_back(argument);
      continue;
    }
    if (LooksLikeOption(argument) && !IsKnownName(argument)) {
      return RefuseOption(argument, known);
    }
    return RefuseArgument(argument);
  }
  return std::nullopt;
}

}  // namespace

std::int32_t ParseHtmlDelay(const char* parameter) {
  if (parameter == nullptr) return kDefaultHtmlDelay;
  std::string_view text(parameter);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return kDefaultHtmlDelay;
  // Accumulated as a negative number, whose range includes the smallest
  // 32-bit value.
  constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return kDefaultHtmlDelay;
    value = value * 10 - (c - '0');
    if (value < kLowest) return kDefaultHtmlDelay;
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return kDefaultHtmlDelay;
  }
  return static_cast<std::int32_t>(value);
}

bool LooksLikeOption(std::string_view argument) {
  if (argument.starts_with("--")) return true;
  return argument.size() >= 2 && argument[0] == '-' && platform::IsAsciiLetter(argument[1]);
}

std::string UsageText() {
  std::string text;
  for (const Form& form : kForms) {
    text += (text.empty() ? "Usage: vesk " : "       vesk ") + FormUsage(form) + "\n";
  }
  return text;
}

std::string HelpText() {
  std::string text = UsageText();
  text += "\n";
  text += "Runs one refresh of the weather-radar loop publication in the program\n";
  text += "directory, prints its progress and exits with 0; a failure leaves the\n";
  text += "report e!vesk.xml there. A scheduler starts it every few minutes.\n";
  text += "\n";
  text += FormsHelp();
  text += "\n";
  text += "Every run ends with a line \"Summary: ...\". Exit status: 0 for every run,\n";
  text += "a failed one included; 2 when the program directory cannot be entered or,\n";
  text += "without VESK_HOME, is a system directory (under /usr, /bin, /sbin or /opt,\n";
  text += "or not writable), and for an unknown option; nothing is written then.\n";
  text += "The manual page vesk(1) describes the files and the deployment.\n";
  text += "\n";
  return text + ConfigurationHelp(zub32::GetEXEPath(""));
}

int RunMain(const std::vector<std::string>& arguments) {
  // A closed standard output or a peer that went away must give an error,
  // not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  if (arguments.empty() || !LooksLikeOption(arguments.front())) return kRunForm.handler(arguments);
  // A mistyped option must not start a real run with the default delay.
  const Form* form = SelectForm(arguments.front());
  if (form == nullptr) return RefuseOption(arguments.front(), OptionNames());
  if (const std::optional<int> refused = RefuseExtraArguments(*form, arguments)) return *refused;
  return form->handler(arguments);
}

}  // namespace refresh
