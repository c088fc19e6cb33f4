#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

class QTextStream;

namespace Morvaniel {
struct DownloadCallbackInfo;
}

// Everything a command tells the user goes through here: plain lines for a
// person (the download progress redrawn in place on a terminal), or one JSON
// object per line for a program (--json).
class ProgressPrinter
{
public:
    ProgressPrinter(QTextStream &out, bool json);

    bool json() const { return m_json; }
    // A stage begins: "download", "verify-archives", "extract", "merge", ...
    void stage(const QString &name, const QString &detail = QString());
    void info(const QString &text, const QJsonObject &fields = QJsonObject());
    void warning(const QString &text);
    // detail: the library's own text, in the JSON event only (the log has it too).
    void error(const QString &text, const QString &detail = QString());
    // A download run starts: its first report counts what was on disk already.
    // stage names it in the JSON progress events ("download", "blocks").
    void beginDownload(const QString &stage = QStringLiteral("download"));
    void download(const Morvaniel::DownloadCallbackInfo &info);
    void percent(const QString &stage, double fraction);
    // Ends a line that download() or percent() redraws.
    void endLine();
    // Any other JSON event; nothing in plain mode.
    void event(const QString &name, QJsonObject fields);

    // The plain progress line of a download. The library measures the speed
    // once a second, so a run shorter than that ends at speed 0: its last line
    // shows the run's average instead (runBytes in runMs).
    static QString downloadLine(const Morvaniel::DownloadCallbackInfo &info, qint64 runBytes, qint64 runMs);
    // text without control characters: a server's news or file names must not
    // move the cursor, clear the line or draw text of their own on a terminal.
    static QString printable(const QString &text);

private:
    void emitLine(const QString &text);

    QTextStream &m_out;
    bool m_json = false;
    bool m_terminal = false;
    bool m_lineOpen = false;
    int m_lastPercent = -1;
    QElapsedTimer m_runClock;
    qint64 m_runStartBytes = -1;
    QString m_downloadStage = QStringLiteral("download");
};
