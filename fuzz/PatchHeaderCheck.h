#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads data as the start of a patch file with the patch tool's header reader
// and checks the segment plan of an accepted header. Empty when all held.
std::string checkPatchHeader(const uint8_t *data, size_t size);
