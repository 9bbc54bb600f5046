// Arguments reach HostMain as the bytes they are, taken as UTF-8 whatever
// the locale says.
#include <string>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return HostMain(args);
}
