// Runs a program as a child process with a time limit, capturing its output.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace albummaker::testing {

struct ChildResult {
  int exitCode = -1;  // -1 when it did not exit normally
  bool timedOut = false;
  std::string out;
  std::string err;
};

// argv[0] is the program path. A child still running at the deadline is
// killed and reaped.
ChildResult RunChild(const std::vector<std::string>& argv, std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace albummaker::testing
