#pragma once

// The difference coding of a segment, after bsdiff: a list of steps, each
// "add the next diffLength bytes of the diff stream to as many old bytes from
// the old position on, copy the next extraLength bytes of the extra stream,
// then move the old position by seek". The old position starts at 0 in every
// segment. The control stream holds the steps as LEB128 numbers (seek
// zigzag-coded); the diff stream the bytewise differences new - old, mostly
// zeros where code moved, with every run of zeros written as one zero byte and
// the run's length - 1 as a LEB128 number (zstd's blocks would spend bytes on
// every 128 KiB of zeros); the extra stream the bytes the old file lacks.

#include <cstddef>
#include <cstdint>

namespace hpatch {

struct DiffStep
{
    uint64_t diffLength = 0;
    uint64_t extraLength = 0;
    int64_t seek = 0;
};

constexpr size_t MaxNumberBytes = 9;
constexpr size_t MaxStepBytes = 3 * MaxNumberBytes;

// A LEB128 number below 2^62: writes it and returns the bytes used.
size_t encodeNumber(uint64_t v, unsigned char out[MaxNumberBytes]);
// Reads one from [p, p + n): the bytes used, or 0 when incomplete or too large.
size_t decodeNumber(const unsigned char *p, size_t n, uint64_t &v);

// Writes the step to out and returns the bytes used.
size_t encodeStep(const DiffStep &step, unsigned char out[MaxStepBytes]);
// Reads a step from [p, p + n). Returns the bytes used, or 0 when they hold
// no complete step or a number does not fit (over 9 bytes or 2^62).
size_t decodeStep(const unsigned char *p, size_t n, DiffStep &step);

} // namespace hpatch
