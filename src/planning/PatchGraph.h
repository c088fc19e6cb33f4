#pragma once

#include "MorvanielGlobal.h"

#include <QtGlobal>

#include <limits>
#include <unordered_map>
#include <vector>

namespace Morvaniel {

// The patch steps between numbered versions, kept as adjacency lists so that
// memory grows with the number of steps rather than with the square of the
// number of versions. Only climbing steps (from < to) are kept: a step that
// runs downward can never be part of an update path.
class PatchGraph
{
public:
    static constexpr quint64 NoPath = std::numeric_limits<quint64>::max();

    struct Arc
    {
        int to;
        quint64 weight;
        int tag; // the caller's handle for the step, e.g. its position in a manifest
    };

    explicit PatchGraph(int nodeCount);

    int nodeCount() const { return static_cast<int>(m_out.size()); }
    // A second step between the same two nodes replaces the first.
    void setArc(int from, int to, quint64 weight, int tag);
    const std::vector<Arc> &arcsFrom(int node) const { return m_out[static_cast<size_t>(node)]; }
    // nullptr when there is no step from -> to.
    const Arc *arc(int from, int to) const;

private:
    std::vector<std::vector<Arc>> m_out;
    // (from, to) -> position in m_out[from], so that a repeated step is found at once.
    std::unordered_map<quint64, size_t> m_arcIndex;
};

} // namespace Morvaniel
