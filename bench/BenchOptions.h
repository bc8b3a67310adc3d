// The "--name value" options of a bench program, read through one table.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace bench {

// What takes an option's value.
using OptionSetter = std::function<void(const std::string& value)>;

// Hands every "--name value" pair of the command line to its setter. A name
// the table does not hold, or one without a value, goes to usage, which ends
// the program.
inline void ReadOptions(int argc, char** argv, const std::map<std::string, OptionSetter>& table,
                        void (*usage)(const std::string& problem)) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const auto setter = table.find(name);
    if (setter == table.end()) {
      usage("unknown option " + name);
    } else if (i + 1 >= argc) {
      usage(name + " needs a value");
    } else {
      setter->second(argv[++i]);
    }
  }
}

}  // namespace bench
