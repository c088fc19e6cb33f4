// The files the patch benchmark diffs, described as entries of a game pak and
// written on demand: the same seeds always give the same bytes, so a figure
// can be reproduced, and no pair has to be held in memory whole.
#pragma once

#include "util/SplitMix64.h"

#include <QByteArray>

#include <cstdint>
#include <string>
#include <vector>

namespace PatchBench {

enum class Kind { Text, Random, Records, Zero };

// Bytes [offset, offset + remove) replaced by `insert` bytes of the entry's
// kind made from `seed`: an overwrite when both are equal.
struct Edit
{
    uint32_t offset = 0;
    uint32_t remove = 0;
    uint32_t insert = 0;
    uint32_t seed = 0;
};

struct Entry
{
    Kind kind = Kind::Random;
    uint32_t size = 0;
    uint32_t seed = 0;
    std::vector<Edit> edits; // applied in order
};

using Layout = std::vector<Entry>;

// Deterministic 64-bit generator for the layouts' choices.
struct Rng
{
    Morvaniel::SplitMix64 g;
    uint64_t next() { return g.next(); }
    uint64_t below(uint64_t n) { return next() % n; }
};

// Content of `size` bytes of one kind: text-like words, incompressible
// bytes, or fixed-size binary records as a game's tables hold them.
QByteArray kindBytes(Kind kind, uint32_t size, uint32_t seed);

// One entry's bytes with its edits applied.
QByteArray entryBytes(const Entry &e);

uint64_t layoutBytes(const Layout &layout);

// Writes the entries one after the other; untouched Zero entries become holes,
// so a large mostly-empty file costs neither time nor disk. False on an error.
bool writeLayout(const Layout &layout, const std::string &path);

} // namespace PatchBench
