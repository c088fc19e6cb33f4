#pragma once

#include <cstddef>
#include <cstdint>

namespace Morvaniel {

// The SHA-256 compression function on the x86 SHA extensions, compiled for
// them alone so that the rest of the library runs on any x86-64.
namespace Sha256Ni {

// True when the processor has the SHA extensions and SSE4.1.
bool available();
// Runs count 64-byte blocks through the state; only when available().
void compress(std::uint32_t state[8], const unsigned char *blocks, std::size_t count);

} // namespace Sha256Ni

} // namespace Morvaniel
