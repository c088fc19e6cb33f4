#pragma once

#include "FlowPart.h"

#include "core/Records.h"

#include <QString>
#include <QVector>

#include <functional>
#include <optional>

namespace HostFlow {

// The full pack's archives, fetched one after the other while those already
// checked are extracted into the game. The download manager tells no file's
// end inside a list, so every archive is a list of its own: its end is the
// download stage's end. At most two archives are on disk at once (one being
// extracted, one coming or waiting), each deleted once extracted and recorded
// in the install's state, so that a stopped or killed run neither fetches nor
// extracts it again.
//
// The views follow the download (one figure for the whole pack); the checks
// and extractions beside it run in the background, and an extraction after
// the last download is shown as a stage of its own. A failure of one side
// ends the other (a download through the library, an extraction once it is
// done) before the run fails. A failure fails the owner's run.
class ArchivePipeline : public FlowPart
{
public:
    struct Pack
    {
        QString version;
        QVector<Morvaniel::DownloadFile> archives; // the ones not yet extracted, in order
        qint64 doneBytes = 0; // of the archives an earlier run extracted
        qint64 wholeBytes = 0; // of every archive of the pack
        bool keepTarget = false; // the first extraction keeps the game folder's files
    };
    // Before the first extraction writes, once the files in use were asked:
    // false (with the reason) when the install's state could not be written.
    using BeforeWrite = std::function<bool(QString &error)>;

    explicit ArchivePipeline(FlowPart &owner);

    // How the install's state records an extracted archive.
    static QString key(const Morvaniel::DownloadFile &archive);

    void run(const Pack &pack, BeforeWrite beforeFirstWrite, std::function<void()> then);
    bool started() const { return m_started; }
    // What is not extracted yet: the download list a stopped run leaves.
    QVector<Morvaniel::DownloadFile> left() const;

private:
    void pump();
    void download(int i);
    void check(int i);
    void extract(int i);
    void unpack(int i);
    void extracted(int i);
    void failed(const FlowError &error);
    void failedToRecord(const QString &error);
    // Archives in the pipeline's hands, from their download to their deletion.
    int held() const;
    // The view follows a stage that is not beside another and has no download after it.
    bool background();

    Pack m_pack;
    BeforeWrite m_beforeFirstWrite;
    std::function<void()> m_then;
    bool m_started = false;
    bool m_resumeFirst = false;
    int m_nextDownload = 0;
    bool m_fetching = false; // an archive is downloaded or checked
    int m_attempt = 0; // of the archive being fetched
    QVector<int> m_ready; // checked, waiting to be extracted, in order
    int m_extracting = -1;
    int m_extracted = 0;
    bool m_written = false; // the first extraction was prepared
    bool m_ended = false;
    std::optional<FlowError> m_error;
};

} // namespace HostFlow
