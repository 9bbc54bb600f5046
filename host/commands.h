// The host's commands. Each takes the arguments that follow its name, writes
// its output to out and its diagnostics to err, and returns the exit code:
// 0 success, 1 failure, 2 bad usage.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace albummaker::host {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

using Args = std::vector<std::string>;  // UTF-8

// render --folder DIR --template FILE [--index N | --name NAME]
int RunRender(const Args& args, std::ostream& out, std::ostream& err);

// serve --folder DIR --template FILE [--bind ADDR] [--port N] [--threads N]
int RunServe(const Args& args, std::ostream& out, std::ostream& err);

// register MODULE / unregister MODULE: call the module's DllRegisterServer or
// DllUnregisterServer. Exit codes as regsvr32's: 3 cannot load, 4 no such
// entry point, 5 the entry point failed.
int RunRegister(const Args& args, std::ostream& out, std::ostream& err);
int RunUnregister(const Args& args, std::ostream& out, std::ostream& err);

// A result code with its meaning: "0x8007007E (The specified module could not
// be found.)".
std::string DescribeResult(long code);

}  // namespace albummaker::host

// Arguments after the program name, as UTF-8. Dispatches to a command; with no
// command or with --help prints the usage.
int HostMain(const std::vector<std::string>& utf8Args);
