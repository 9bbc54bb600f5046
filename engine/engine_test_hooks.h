// Fault injection for tests of the engine's out-of-memory and read-error
// paths. Only the engine the tests link (am_engine_faults, built with
// AM_ENGINE_FAULTS) has them; in the component the limits are constants
// that inject nothing, and their checks fold away.
#pragma once

#include <cstddef>
#include <cstdint>

namespace albummaker::test_hooks {

#if defined(AM_ENGINE_FAULTS)
// The largest buffer, in bytes, that the template reader and AnsiToWide may
// allocate; a larger request fails as if memory were exhausted.
void SetAllocationLimit(std::size_t bytes) noexcept;
std::size_t AllocationLimit() noexcept;

// When not 0, every template read fails with this platform error number
// (after the file was opened and sized).
void SetReadFailure(std::uint32_t errorNumber) noexcept;
std::uint32_t ReadFailure() noexcept;

// Restores the defaults.
void Reset() noexcept;
#else
constexpr std::size_t AllocationLimit() noexcept { return static_cast<std::size_t>(-1); }
constexpr std::uint32_t ReadFailure() noexcept { return 0; }
#endif

}  // namespace albummaker::test_hooks
