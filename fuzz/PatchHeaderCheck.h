#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads data as a patch file with the patch tool's header reader, checks the
// segment plan of an accepted header and, for small files, decodes the
// segments as hpatchz would. Empty when all held.
std::string checkPatchHeader(const uint8_t *data, size_t size);
