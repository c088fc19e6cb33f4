#pragma once

#include "FlowPart.h"

#include "blocks/BlockCost.h"
#include "blocks/BlockJob.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

namespace HostFlow {

// The channel's block store as the game's update and repair use it: the
// block index of a version (a 404 means the server has none, and the archive
// path goes on as before), the plan's figures against the archives', and the
// block run itself. A failure fails the owner's run.
class BlockDelivery : public FlowPart
{
public:
    explicit BlockDelivery(FlowPart &owner);

    // Whether the newest version comes by blocks: then(true) once a job is
    // planned and cheaper (run() follows), then(false) for the archive path:
    // no block store, or the patch chain of chainBytes costs less. from is the
    // version the folder holds (empty: none); chainBytes < 0: no chain.
    // fullPackBytes is told beside the plan's figure when there is no chain.
    void choose(const QString &from, const QString &newest, qint64 chainBytes, qint64 fullPackBytes,
        std::function<void(bool byBlocks)> then);
    // Brings the game folder to the chosen version; then() once every written
    // byte was checked. The install's state names the run until it is done:
    // a stopped or killed run goes on with the same job next time.
    void run(std::function<void()> then);
    // Only the blocks of badFiles that fail their digests, fetched and written:
    // then(true) once done, then(false) when the server has no block store
    // for version (the archives repair instead).
    void repair(const QString &version, const QVector<QString> &badFiles, std::function<void(bool byBlocks)> then);

    const Morvaniel::BlockCost &cost() const { return m_cost; }

private:
    // then(bytes), with empty bytes when the server has no block index of version.
    void fetchIndex(const QString &version, std::function<void(const QByteArray &)> then);
    Morvaniel::BlockJob jobFor(const QString &version, const QByteArray &index);
    bool plan(Morvaniel::BlockJob &job);
    void start(const QString &detail, std::function<void()> then);

    Morvaniel::BlockJob m_job;
    Morvaniel::BlockCost m_cost;
    QString m_from;
    QString m_target;
};

} // namespace HostFlow
