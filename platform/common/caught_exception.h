// The one mapping from an exception to a result code, for the single
// catch (...) of an interface method or an export: no exception may cross
// either, and every caller reports the same kind of failure the same way.
#pragma once

#include <windows.h>

#include <new>
#include <stdexcept>
#include <system_error>

namespace am {

// Turns the message of an engine failure into the caller's error
// information and returns the code that goes with it.
using EngineErrorReport = HRESULT (*)(const char* message);

// Call only inside a catch block. Out of memory is E_OUTOFMEMORY. The
// engine's std::runtime_error goes to report when one is given (the
// component's error information); a failing system call (std::system_error,
// a lock say) is no engine error. Everything else is E_FAIL.
inline HRESULT ResultFromCaughtException(EngineErrorReport report = nullptr) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::system_error&) {
    return E_FAIL;
  } catch (const std::runtime_error& error) {
    return report != nullptr ? report(error.what()) : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace am
