#pragma once

// The project's binary patch format: each patch holds the sizes and CRC-32 of
// the old and the new file, and the new file in segments. A segment is either a
// zstd frame that uses a region of the old file as its prefix ("patch-from"),
// or a difference coding after bsdiff (approximate matches against the whole
// old file, bytewise differences, new bytes), whichever came out smaller.
// Segments keep each frame within zstd's 2 GiB window. Both directions map
// files instead of reading them, so memory stays bounded whatever the size.

#include <cstdint>
#include <functional>
#include <string>

namespace hpatch {

// Exit codes of hpatchz; the launcher's merge stage reads 22 and 24.
enum ExitCode : int {
    Ok = 0,
    Failed = 1,
    OutOfMemory = 22,
    DiskFull = 24,
};

struct Result
{
    int code = Ok;
    std::string message; // empty on success
    bool ok() const { return code == Ok; }
};

// Called with a percentage (0..100) whenever it grows.
using ProgressFn = std::function<void(int percent)>;

enum class Coding {
    Smaller, // per segment the smaller of the two
    Frame, // zstd frames only
    Diff, // the difference coding only
};

struct CreateOptions
{
    int level = 19;
    Coding coding = Coding::Smaller;
    // Bytes of the new file per zstd frame, and how far before and after the
    // matching offset the old file is referenced. Segment plus reference region
    // must fit zstd's largest window (2 GiB).
    uint64_t segmentSize = uint64_t(512) << 20;
    uint64_t margin = uint64_t(512) << 20;
};

// Writes a patch that turns oldPath into newPath. A missing oldPath counts as
// an empty file. The patch is written through a temporary file and a rename.
Result createPatch(const std::string &oldPath, const std::string &newPath, const std::string &patchPath,
    const CreateOptions &options = {}, const ProgressFn &progress = {});

// Applies patchPath to oldPath and writes outPath (which may equal oldPath).
// The result goes to a temporary file beside outPath and replaces it only once
// it is complete and its checksum matches; on failure outPath is untouched.
// A patch made for another old file fails without touching outPath. Patches
// of every earlier version of the format apply.
Result applyPatch(const std::string &oldPath, const std::string &patchPath, const std::string &outPath,
    const ProgressFn &progress = {});

} // namespace hpatch
