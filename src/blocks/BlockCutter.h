#pragma once

#include "MorvanielGlobal.h"

#include <cstddef>
#include <cstdint>

namespace Morvaniel {

// How a file is cut into delivery blocks. Content-defined: a cut falls where a
// rolling hash of the last 64 bytes has its top bits clear, so an insertion or
// a deletion moves only the cuts near it, and the blocks after it keep their
// digests. Sizes stay within [minSize, maxSize]; below avgSize a cut is made
// harder, above it easier, which keeps most blocks near avgSize.
struct MORVANIEL_EXPORT CutParameters
{
    std::uint32_t minSize = 0;
    std::uint32_t avgSize = 0; // a power of two
    std::uint32_t maxSize = 0;

    bool isValid() const;
    // The sizes the publisher uses; see docs/server-layout.md for the measurements behind them.
    static CutParameters standard();
};

namespace BlockCutter {

// The length of the block that starts at data: at most length, and length
// itself when length is at most minSize.
MORVANIEL_EXPORT std::size_t nextCut(const unsigned char *data, std::size_t length, const CutParameters &parameters);

} // namespace BlockCutter

} // namespace Morvaniel
