// Fault injection for tests of the engine's out-of-memory and read-error
// paths. Production code never sets these; the defaults change nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace albummaker::test_hooks {

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

}  // namespace albummaker::test_hooks
