// vesk: one refresh run of the radar loop publication.
#include <string>
#include <vector>

#include "platform/MemoryPages.h"
#include "refresh/CommandLine.h"

int main(int argc, char** argv) {
  platform::PreferLargePagesForHeap(platform::kRunHeapReserve);
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return refresh::RunMain(arguments);
}
