#include "FlowPart.h"

#include "FlowOptions.h"
#include "FlowReporter.h"
#include "InstallState.h"
#include "SignedRelease.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "download/DownloadPieces.h"
#include "trust/ReleaseTrust.h"
#include "util/DocumentLimits.h"
#include "util/QFileUtils.h"

#include <utility>

using namespace Morvaniel;

namespace HostFlow {

namespace {

// An Ed25519 signature file is one short line.
constexpr qint64 MaxReleaseSignature = 4096;

FlowError refusal(const QString &message)
{
    FlowError e;
    e.kind = Failure::Refused;
    e.message = message;
    return e;
}

} // namespace

FlowPart::FlowPart(StageRunner &runner, const FlowOptions &options, Finish finish)
    : m_runner(runner)
    , m_options(options)
    , m_finish(std::move(finish))
{
}

FlowPart::FlowPart(FlowPart &owner)
    : m_runner(owner.m_runner)
    , m_options(owner.m_options)
    , m_owner(&owner)
{
}

FlowPart::~FlowPart() = default;

void FlowPart::finish(int result)
{
    if (m_owner) {
        m_owner->finish(result);
        return;
    }
    if (result == Ok && !keepAcceptedReleases())
        return; // failed the run instead
    m_accepted.clear();
    if (m_finish)
        m_finish(result);
}

bool FlowPart::keepAcceptedReleases()
{
    const QVector<AcceptedChannel> accepted = std::exchange(m_accepted, {});
    for (const AcceptedChannel &a : accepted) {
        QString error;
        if (!stateWritten(SignedRelease::remember(a.channel, a.installDir, a.release, error), error))
            return false;
    }
    return true;
}

void FlowPart::fail(const FlowError &error)
{
    if (m_owner) {
        m_owner->fail(error);
        return;
    }
    out().fail(error);
    finish(Failed);
}

void FlowPart::fail(const QString &message, Failure kind)
{
    FlowError error;
    error.kind = kind;
    error.message = message;
    fail(error);
}

bool FlowPart::stateWritten(bool ok, const QString &error)
{
    if (ok)
        return true;
    FlowError e;
    e.kind = Failure::NotWritable;
    e.path = InstallState::statePath(ctx().setting.InstallPath);
    e.message = error;
    fail(e);
    return false;
}

bool FlowPart::roomFor(const QVector<FreeSpace::Need> &needs)
{
    QString error;
    if (FreeSpace::check(needs, error))
        return true;
    FlowError e;
    e.kind = Failure::DiskFull;
    e.path = needs.isEmpty() ? QString() : needs.first().folder;
    e.message = error;
    fail(e);
    return false;
}

StageRunner::Next FlowPart::onDone(std::function<void(const StageEnd &)> then, const QString &prefix)
{
    return [this, then = std::move(then), prefix](const StageEnd &end) {
        if (end.ok) {
            then(end);
            return;
        }
        FlowError error = end.error;
        if (!prefix.isEmpty())
            error.message = QStringLiteral("%1: %2").arg(prefix, error.message);
        fail(error);
    };
}

void FlowPart::reportPartialDownload()
{
    const GameUpdateContext &c = ctx();
    qint64 onDisk = 0;
    qint64 total = 0;
    for (const DownloadFile &file : c.downloadList) {
        onDisk += PieceGroup::bytesOnDisk(file);
        total += file.size;
    }
    if (onDisk <= 0) {
        // A block run under way keeps its figures in the install's state.
        QString from;
        QString target;
        InstallState::blockRun(c.setting.InstallPath, from, target);
        if (!target.isEmpty())
            InstallState::blockProgress(c.setting.InstallPath, onDisk, total);
    }
    if (onDisk > 0 && total > 0)
        emit out().partialDownload(onDisk, total);
}

void FlowPart::fetchText(const QString &url, std::function<void(const QString &)> then)
{
    m_runner.fetchText(url, onDone([then = std::move(then)](const StageEnd &end) { then(end.text); }));
}

void FlowPart::fetchManifest(const QString &url, std::function<void(const QString &)> then)
{
    fetchText(url, [this, url, then = std::move(then)](const QString &text) {
        QString error;
        // Checked under the address it came from: the fetch may have moved to a mirror.
        if (!ReleaseTrust::CheckText(m_runner.servers().rebased(url), text, error)) {
            // A mirror that serves another publication than the accepted one.
            if (m_runner.switchServer(refusal(error))) {
                fetchManifest(m_runner.servers().rebased(url), then);
                return;
            }
            fail(error, Failure::Refused);
            return;
        }
        then(text);
    });
}

void FlowPart::acceptRelease(const QString &channel, std::function<void()> then)
{
    if (!ReleaseTrust::IsEnabled()) {
        then();
        return;
    }
    const QString document = QFileUtils::CombinePath(Global::Var::Host, ReleaseTrust::DocumentPath(channel));
    const QString signature = QFileUtils::CombinePath(Global::Var::Host, ReleaseTrust::SignaturePath(channel));
    m_runner.fetchBytes(document, MaxReleaseDocumentBytes,
        onDone([this, channel, signature, then = std::move(then)](const StageEnd &documentEnd) {
            const QByteArray documentBytes = documentEnd.bytes;
            m_runner.fetchBytes(signature, MaxReleaseSignature,
                onDone([this, channel, documentBytes, then](const StageEnd &signatureEnd) {
                    QString error;
                    const QString installDir = ctx().setting.InstallPath;
                    AcceptedRelease remember;
                    if (!SignedRelease::accept(
                            documentBytes, signatureEnd.bytes, channel, installDir, remember, error)) {
                        // Whatever server sent it, the document is judged the
                        // same: one that is refused counts against its server.
                        if (m_runner.switchServer(refusal(error))) {
                            acceptRelease(channel, then);
                            return;
                        }
                        fail(error, Failure::Refused);
                        return;
                    }
                    root().m_accepted.append({ channel, installDir, remember });
                    out().countReleaseAccepted();
                    out().info(QStringLiteral("signed release of %1 accepted").arg(channel));
                    then();
                }));
        }));
}

} // namespace HostFlow
