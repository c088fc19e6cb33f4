#pragma once

// A hash index of the old file for the difference coding's match search: the
// positions of every step-th key of the old file, chained per hash. The step
// grows with the file so that the index stays within IndexBudget bytes, which
// keeps creating a patch for a file of several GiB within bounded memory; a
// match is still found whenever it is at least key + step - 1 bytes long.

#include <cstdint>
#include <vector>

namespace hpatch {

class OldIndex
{
public:
    static constexpr uint64_t IndexBudget = uint64_t(768) << 20;

    // Indexes old[0, size). Throws std::bad_alloc without memory.
    void build(const unsigned char *old, uint64_t size);

    // The longest match of s[0, n) in the old file among the indexed
    // candidates: its length (0 for none), its old position in pos.
    uint64_t longest(const unsigned char *s, uint64_t n, uint64_t &pos) const;

private:
    uint64_t hashAt(const unsigned char *p) const;

    const unsigned char *m_old = nullptr;
    uint64_t m_size = 0;
    uint64_t m_step = 1;
    static constexpr unsigned Key = 16; // bytes hashed per position
    unsigned m_shift = 64;
    unsigned m_depth = 64;
    std::vector<uint32_t> m_head;
    std::vector<uint32_t> m_next;
};

// Length of the common start of a and b, at most n bytes.
uint64_t matchLength(const unsigned char *a, const unsigned char *b, uint64_t n);

} // namespace hpatch
