#include "PairContent.h"

#include "TestData.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace PatchBench {

namespace {

// 64-byte records: ids counting up, small enumerations, coordinates on a
// grid and names from a short list, padded with zeros. Compresses about 4:1.
QByteArray records(uint32_t size, uint32_t seed)
{
    static const char *names[] = { "actor_guard", "prop_barrel", "light_torch", "npc_trader", "item_potion",
        "door_wood", "spawn_point", "sound_wind" };
    QByteArray out(int(size), '\0');
    Rng rng{ seed };
    const uint32_t firstId = seed * 4096u;
    for (uint32_t at = 0, i = 0; at + 64 <= size; at += 64, ++i) {
        char *r = out.data() + at;
        const uint32_t id = firstId + i;
        const uint16_t type = uint16_t(rng.below(16));
        const uint16_t flags = uint16_t(1u << rng.below(4));
        float xyz[3];
        for (float &v : xyz)
            v = float(rng.below(4096)) * 0.25f;
        const uint32_t value = uint32_t(rng.below(100)) * 5;
        std::memcpy(r, &id, 4);
        std::memcpy(r + 4, &type, 2);
        std::memcpy(r + 6, &flags, 2);
        std::memcpy(r + 8, xyz, sizeof xyz);
        std::memcpy(r + 20, &value, 4);
        const char *name = names[rng.below(8)];
        std::memcpy(r + 24, name, std::strlen(name));
    }
    return out;
}

} // namespace

QByteArray kindBytes(Kind kind, uint32_t size, uint32_t seed)
{
    switch (kind) {
    case Kind::Text: {
        QByteArray text = TestData::wordText(int(size), seed);
        text.truncate(int(size));
        return text;
    }
    case Kind::Random:
        return TestData::randomBytes(int(size), seed);
    case Kind::Records:
        return records(size, seed);
    case Kind::Zero:
        break;
    }
    return QByteArray(int(size), '\0');
}

QByteArray entryBytes(const Entry &e)
{
    QByteArray bytes = kindBytes(e.kind, e.size, e.seed);
    for (const Edit &edit : e.edits) {
        // Zero entries get random edits: a hole that became data.
        const Kind kind = e.kind == Kind::Zero ? Kind::Random : e.kind;
        const uint32_t offset = std::min<uint32_t>(edit.offset, uint32_t(bytes.size()));
        const uint32_t remove = std::min<uint32_t>(edit.remove, uint32_t(bytes.size()) - offset);
        bytes.replace(int(offset), int(remove), kindBytes(kind, edit.insert, edit.seed));
    }
    return bytes;
}

uint64_t layoutBytes(const Layout &layout)
{
    uint64_t total = 0;
    for (const Entry &e : layout) {
        int64_t size = e.size;
        for (const Edit &edit : e.edits)
            size += int64_t(edit.insert) - int64_t(edit.remove);
        total += uint64_t(size);
    }
    return total;
}

bool writeLayout(const Layout &layout, const std::string &path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    off_t end = 0;
    for (const Entry &e : layout) {
        if (!ok)
            break;
        if (e.kind == Kind::Zero && e.edits.empty()) {
            end += off_t(e.size);
            ok = lseek(fd, end, SEEK_SET) == end;
            continue;
        }
        const QByteArray bytes = entryBytes(e);
        for (int done = 0; ok && done < bytes.size();) {
            const ssize_t n = write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            ok = n > 0;
            done += ok ? int(n) : 0;
        }
        end += off_t(bytes.size());
    }
    ok = ok && ftruncate(fd, end) == 0;
    return close(fd) == 0 && ok;
}

} // namespace PatchBench
