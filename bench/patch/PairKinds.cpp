#include "PairKinds.h"

#include "PairContent.h"

#include <algorithm>
#include <fstream>
#include <zlib.h>

namespace PatchBench {

namespace {

constexpr uint64_t MiB = 1 << 20;

// Entries of 64 KiB to 2 MiB, like the files packed into a game's archive.
Layout mixedLayout(Rng &rng, uint64_t bytes, unsigned zeroPercent)
{
    Layout layout;
    uint64_t total = 0;
    while (total < bytes) {
        Entry e;
        const uint64_t roll = rng.below(100);
        e.kind = roll < zeroPercent                               ? Kind::Zero
            : roll < zeroPercent + (100 - zeroPercent) * 35 / 100 ? Kind::Text
            : roll < zeroPercent + (100 - zeroPercent) * 70 / 100 ? Kind::Random
                                                                  : Kind::Records;
        e.size = uint32_t(std::min<uint64_t>(64 * 1024 + rng.below(2 * MiB - 64 * 1024), bytes - total));
        e.seed = uint32_t(rng.next());
        total += e.size;
        layout.push_back(e);
    }
    return layout;
}

// A small change: mostly an overwrite of a few bytes, sometimes a few bytes
// inserted or removed, which shifts everything after it in the file.
void addSmallEdit(Rng &rng, Entry &e)
{
    Edit edit;
    edit.offset = uint32_t(rng.below(e.size));
    edit.seed = uint32_t(rng.next());
    const uint64_t roll = rng.below(100);
    const uint32_t length = 1 + uint32_t(rng.below(roll < 70 ? 64 : 32));
    edit.remove = roll < 85 ? length : 0;
    edit.insert = roll < 70 || roll >= 85 ? length : 0;
    e.edits.push_back(edit);
}

Layout withScatteredEdits(Rng &rng, Layout layout, unsigned percent)
{
    for (Entry &e : layout) {
        if (rng.below(100) >= percent)
            continue;
        for (uint64_t k = 1 + rng.below(4); k > 0; --k)
            addSmallEdit(rng, e);
    }
    return layout;
}

std::string writePair(const Layout &oldLayout, const Layout &newLayout, const std::string &o, const std::string &n)
{
    return writeLayout(oldLayout, o) && writeLayout(newLayout, n) ? std::string() : "cannot write the pair";
}

std::string scatteredEdits(uint64_t mib, const std::string &o, const std::string &n)
{
    Rng rng{ 1 };
    const Layout old = mixedLayout(rng, mib * MiB, 0);
    return writePair(old, withScatteredEdits(rng, old, 40), o, n);
}

std::string movedAndInserted(uint64_t mib, const std::string &o, const std::string &n)
{
    Rng rng{ 2 };
    const Layout old = mixedLayout(rng, mib * MiB, 0);
    Layout now = old;
    // A repacked archive: some entries sit elsewhere now, new ones come between.
    for (size_t k = 0; k < old.size() / 12; ++k) {
        const size_t from = rng.below(now.size());
        const Entry moved = now[from];
        now.erase(now.begin() + long(from));
        now.insert(now.begin() + long(rng.below(now.size() + 1)), moved);
    }
    for (size_t k = 0; k < old.size() / 20; ++k) {
        Rng fresh{ rng.next() };
        const Layout added = mixedLayout(fresh, 64 * 1024 + rng.below(MiB), 0);
        now.insert(now.begin() + long(rng.below(now.size() + 1)), added.begin(), added.end());
    }
    return writePair(old, now, o, n);
}

// A zlib stream of text and records, the new one from a source with a small
// edit in every entry. Deflate's bits are not byte-aligned, so after an edit
// the rest of the stream is shifted by a few bits and no byte matches; only
// a shift by whole bytes (one edit in eight) lines up again, until the next.
std::string compressedBlob(uint64_t mib, const std::string &o, const std::string &n)
{
    Rng rng{ 4 };
    Layout source;
    uint64_t compressed = 0;
    std::string error;
    const auto deflateTo = [&](const Layout &layout, const std::string &path, bool grow) {
        std::ofstream out(path, std::ios::binary);
        z_stream z{};
        deflateInit(&z, 6);
        std::vector<unsigned char> buffer(1 << 16);
        uint64_t written = 0;
        for (size_t i = 0;; ++i) {
            // The old stream grows its source until it is large enough; the
            // new one takes the same entries.
            if (grow && i == layout.size() && written < mib * MiB) {
                Layout more = mixedLayout(rng, 4 * MiB, 0);
                for (Entry &e : more)
                    e.kind = e.kind == Kind::Random ? Kind::Text : e.kind;
                source.insert(source.end(), more.begin(), more.end());
            }
            const bool last = i >= layout.size();
            QByteArray bytes = last ? QByteArray() : entryBytes(layout[i]);
            z.next_in = reinterpret_cast<Bytef *>(bytes.data());
            z.avail_in = uInt(bytes.size());
            do {
                z.next_out = buffer.data();
                z.avail_out = uInt(buffer.size());
                deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                const size_t produced = buffer.size() - z.avail_out;
                out.write(reinterpret_cast<const char *>(buffer.data()), long(produced));
                written += produced;
            } while (z.avail_out == 0);
            if (last)
                break;
        }
        deflateEnd(&z);
        compressed = written;
        if (!out)
            error = "cannot write the pair";
    };
    deflateTo(source, o, true);
    Layout changed = source;
    for (Entry &e : changed)
        addSmallEdit(rng, e);
    deflateTo(changed, n, false);
    return error;
}

std::string grown(uint64_t mib, const std::string &o, const std::string &n)
{
    Rng rng{ 5 };
    const Layout old = mixedLayout(rng, mib * MiB, 0);
    Layout now = old;
    // A fifth more data inserted in a few places, three tenths appended.
    for (int k = 0; k < 4; ++k) {
        const Layout added = mixedLayout(rng, mib * MiB / 20, 0);
        now.insert(now.begin() + long(rng.below(now.size() + 1)), added.begin(), added.end());
    }
    const Layout tail = mixedLayout(rng, mib * MiB * 3 / 10, 0);
    now.insert(now.end(), tail.begin(), tail.end());
    return writePair(old, now, o, n);
}

std::string shrunk(uint64_t mib, const std::string &o, const std::string &n)
{
    Rng rng{ 6 };
    const Layout old = mixedLayout(rng, mib * MiB, 0);
    // Three large ranges removed: about half of the file.
    Layout now;
    const size_t count = old.size();
    for (size_t i = 0; i < count; ++i) {
        const size_t tenth = i * 10 / count;
        if (tenth == 1 || tenth == 2 || tenth == 5 || tenth == 8 || tenth == 9)
            continue;
        now.push_back(old[i]);
    }
    return writePair(old, now, o, n);
}

} // namespace

std::vector<PairKind> generatedPairs(uint64_t pakMiB)
{
    const auto scaled = [pakMiB](uint64_t divisor, uint64_t low, uint64_t high) {
        return std::clamp<uint64_t>(pakMiB / divisor, low, high);
    };
    const uint64_t moved = scaled(2, 8, 160), blob = scaled(8, 4, 32), grow = scaled(7, 6, 40),
                   shrink = scaled(5, 8, 60);
    using namespace std::placeholders;
    return {
        { "mixed pak " + std::to_string(pakMiB) + " MiB, scattered edits", std::bind(scatteredEdits, pakMiB, _1, _2) },
        { "pak " + std::to_string(moved) + " MiB, moved+inserted", std::bind(movedAndInserted, moved, _1, _2) },
        { "zlib blob " + std::to_string(blob) + " MiB, recompressed", std::bind(compressedBlob, blob, _1, _2) },
        { "grown " + std::to_string(grow) + " MiB +50%", std::bind(grown, grow, _1, _2) },
        { "shrunk " + std::to_string(shrink) + " MiB -50%", std::bind(shrunk, shrink, _1, _2) },
    };
}

std::string makeLongPair(uint64_t mib, const std::string &oldPath, const std::string &newPath)
{
    Rng rng{ 7 };
    const Layout old = mixedLayout(rng, mib * MiB, 25);
    return writePair(old, withScatteredEdits(rng, old, 10), oldPath, newPath);
}

} // namespace PatchBench
