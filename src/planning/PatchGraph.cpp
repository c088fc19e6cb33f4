#include "planning/PatchGraph.h"

namespace Morvaniel {

namespace {

quint64 pairKey(int from, int to)
{
    return (static_cast<quint64>(static_cast<quint32>(from)) << 32) | static_cast<quint32>(to);
}

} // namespace

PatchGraph::PatchGraph(int nodeCount)
    : m_out(static_cast<size_t>(qMax(0, nodeCount)))
{
}

void PatchGraph::setArc(int from, int to, quint64 weight, int tag)
{
    if (from < 0 || to >= nodeCount() || from >= to)
        return;
    // NoPath marks "unreachable"; a real step, however large, must stay below it.
    const quint64 w = qMin(weight, NoPath - 1);
    std::vector<Arc> &arcs = m_out[static_cast<size_t>(from)];
    const auto inserted = m_arcIndex.emplace(pairKey(from, to), arcs.size());
    if (!inserted.second) {
        Arc &a = arcs[inserted.first->second];
        a.weight = w;
        a.tag = tag;
        return;
    }
    arcs.push_back({ to, w, tag });
}

const PatchGraph::Arc *PatchGraph::arc(int from, int to) const
{
    const auto found = m_arcIndex.find(pairKey(from, to));
    if (found == m_arcIndex.end())
        return nullptr;
    return &m_out[static_cast<size_t>(from)][found->second];
}

} // namespace Morvaniel
