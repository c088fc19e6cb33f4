#pragma once

#include "FlowError.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace HostFlow {

// The kinds of stage a run is made of, each one thing the library does until
// its final report. Another kind of stage is an entry here and a handler in
// StageRunner's table.
enum class Stage {
    Fetch, // a document from the server (content request)
    Download, // the archives of the context's download list
    CheckArchives, // their MD5 (the verifier in archive mode)
    FilesInUse, // no other program holds a game file open (the checker, and the view's answer)
    Extract, // archives unpacked by 7z
    Merge, // the game's patches applied (the patcher's merge stage)
    CheckInstall, // installed files against a file manifest (the verifier in manifest mode)
    UpdateFiles, // the launcher's own files moved into place (the patcher's update stage)
    Blocks, // the game folder brought to a version from the block store (the block worker)
};
constexpr int StageCount = int(Stage::Blocks) + 1;

// The stage's name in the command line's output: "fetch", "download", "verify-archives", ...
QString stageName(Stage stage);

// How a stage ended. A stage that the run's stop() ended never reaches the
// part that started it (StageRunner hands it to the job instead).
struct StageEnd
{
    Stage stage = Stage::Fetch;
    bool ok = false;
    FlowError error; // when not ok
    // What the stage found.
    QString text; // Fetch: the document as text
    QByteArray bytes; // Fetch of raw bytes
    bool differs = false; // CheckInstall: some file differs from the manifest
    QVector<QString> badFiles; // CheckInstall by MD5: every file that differs
    bool needMd5Check = false; // Merge: a patch did not apply
    qint64 wireBytes = 0; // Blocks: bytes received from the server in this run
};

} // namespace HostFlow
