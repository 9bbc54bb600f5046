// albummaker register / unregister: what regsvr32 does on Windows. Loads a
// component module, calls its DllRegisterServer or DllUnregisterServer and
// reports the result code in words.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "owners.h"
#include "register_load.h"

namespace albummaker::host {
namespace {

constexpr char kRegisterUsage[] =
    "Usage: albummaker register MODULE\n"
    "       albummaker unregister MODULE\n"
    "\n"
    "Loads the component module MODULE and calls its DllRegisterServer\n"
    "(register) or DllUnregisterServer (unregister), which write or remove the\n"
    "component's registry entries. On Linux the registry is the file named by\n"
    "ALBUMMAKER_REGISTRY, else ~/.local/share/albummaker/registry.reg.\n"
    "\n"
    "Exit status: 0 success, 2 bad usage, 3 the module cannot be loaded,\n"
    "4 it has no such entry point, 5 the entry point failed.\n";

struct KnownResult {
  unsigned long code;
  const char* text;
};

// The codes registration and loading report, with the system's wording.
constexpr KnownResult kKnownResults[] = {
    {0x00000000UL, "The operation completed successfully."},
    {0x00000001UL, "The operation completed with a warning."},
    {0x80004005UL, "Unspecified error."},
    {0x8007000EUL, "Not enough memory resources are available to complete this operation."},
    {0x80070002UL, "The system cannot find the file specified."},
    {0x80070003UL, "The system cannot find the path specified."},
    {0x80070005UL, "Access is denied."},
    {0x8007000DUL, "The data is invalid."},
    {0x80070057UL, "The parameter is incorrect."},
    {0x8007007EUL, "The specified module could not be found."},
    {0x8007007FUL, "The specified procedure could not be found."},
    {0x800700C1UL, "The module is not a valid application."},
    {0x800700CEUL, "The filename or extension is too long."},
    {0x800703F0UL, "The configuration registry database is corrupt."},
    {0x800703F2UL, "The configuration registry key is invalid."},
    {0x800703F3UL, "The configuration registry key could not be opened."},
    {0x800703F5UL, "The configuration registry key could not be written."},
    {0x80070459UL, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {0x80070714UL, "The specified image file did not contain a resource section."},
    {0x80070715UL, "The specified resource type cannot be found in the image file."},
    {0x80070716UL, "The specified resource name cannot be found in the image file."},
    {0x80020009UL, "Exception occurred."},
    {0x8002801CUL, "Error accessing the OLE registry."},
    {0x80029C4AUL, "Error loading type library/DLL."},
    {0x80040154UL, "Class not registered."},
    {0x800401F3UL, "Invalid class string."},
};

enum RegisterExit { kExitCannotLoad = 3, kExitNoEntryPoint = 4, kExitEntryFailed = 5 };

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

int Run(const Args& args, std::ostream& out, std::ostream& err, const char* command, const char* entryName) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << kRegisterUsage;
    return kExitOk;
  }
  if (args.size() != 1 || args[0].empty()) {
    err << "albummaker " << command << ": give exactly one MODULE\n\n" << kRegisterUsage;
    return kExitUsage;
  }
  const std::string& path = args[0];
  const am::UniqueModule module(LoadModuleUtf8(path));
  if (!module) {
    const DWORD error = GetLastError();
    err << "albummaker " << command << ": cannot load " << path << ": "
        << DescribeResult(static_cast<long>(HRESULT_FROM_WIN32(error))) << '\n';
    return kExitCannotLoad;
  }
  const FARPROC found = GetProcAddress(module.get(), entryName);
  if (found == nullptr) {
    err << "albummaker " << command << ": " << path << " has no entry point " << entryName << ".\n";
    return kExitNoEntryPoint;
  }
  EntryPoint entry = nullptr;
  static_assert(sizeof entry == sizeof found);
  std::memcpy(&entry, &found, sizeof entry);
  const HRESULT hr = entry();
  if (FAILED(hr)) {
    err << entryName << " in " << path << " failed: " << DescribeResult(static_cast<long>(hr)) << '\n';
    return kExitEntryFailed;
  }
  out << entryName << " in " << path << " succeeded.\n";
  return kExitOk;
}

}  // namespace

std::string DescribeResult(long code) {
  const unsigned long value = static_cast<unsigned long>(code) & 0xFFFFFFFFUL;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", value);
  const char* text = "Unknown error.";
  for (const KnownResult& known : kKnownResults) {
    if (known.code == value) text = known.text;
  }
  return std::string(hex) + " (" + text + ")";
}

int RunRegister(const Args& args, std::ostream& out, std::ostream& err) {
  return Run(args, out, err, "register", "DllRegisterServer");
}

int RunUnregister(const Args& args, std::ostream& out, std::ostream& err) {
  return Run(args, out, err, "unregister", "DllUnregisterServer");
}

}  // namespace albummaker::host
