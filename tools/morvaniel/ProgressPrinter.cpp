#include "ProgressPrinter.h"
#include "Terminal.h"

#include "download/DownloadCallbackInfo.h"
#include "util/QtUtil.h"

#include <QJsonDocument>
#include <QTextStream>

using namespace Morvaniel;

ProgressPrinter::ProgressPrinter(QTextStream &out, bool json)
    : m_out(out)
    , m_json(json)
    , m_terminal(standardOutputIsTerminal())
{
}

void ProgressPrinter::event(const QString &name, QJsonObject fields)
{
    if (!m_json)
        return;
    endLine();
    fields.insert(QStringLiteral("event"), name);
    m_out << QJsonDocument(fields).toJson(QJsonDocument::Compact) << '\n';
    m_out.flush();
}

QString ProgressPrinter::printable(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        // C0 (tab kept), DEL and C1 controls; the escape sequences of a
        // terminal start with one of them.
        if ((u < 0x20 && u != '\t') || (u >= 0x7f && u <= 0x9f))
            continue;
        out += c;
    }
    return out;
}

void ProgressPrinter::emitLine(const QString &text)
{
    endLine();
    m_out << printable(text) << '\n';
    m_out.flush();
}

void ProgressPrinter::stage(const QString &name, const QString &detail)
{
    m_lastPercent = -1;
    if (m_json)
        event(QStringLiteral("stage"), { { QStringLiteral("stage"), name }, { QStringLiteral("detail"), detail } });
    else
        emitLine(detail.isEmpty() ? QStringLiteral("== %1").arg(name) : QStringLiteral("== %1: %2").arg(name, detail));
}

void ProgressPrinter::info(const QString &text, const QJsonObject &fields)
{
    if (m_json) {
        QJsonObject all = fields;
        all.insert(QStringLiteral("message"), text);
        event(QStringLiteral("info"), all);
    } else {
        emitLine(text);
    }
}

void ProgressPrinter::warning(const QString &text)
{
    if (m_json)
        event(QStringLiteral("warning"), { { QStringLiteral("message"), text } });
    else
        emitLine(QStringLiteral("warning: ") + text);
}

void ProgressPrinter::error(const QString &text, const QString &detail)
{
    if (m_json && !detail.isEmpty())
        event(QStringLiteral("error"), { { QStringLiteral("message"), text }, { QStringLiteral("detail"), detail } });
    else if (m_json)
        event(QStringLiteral("error"), { { QStringLiteral("message"), text } });
    else
        emitLine(QStringLiteral("error: ") + text);
}

void ProgressPrinter::download(const DownloadCallbackInfo &info)
{
    if (m_json) {
        event(QStringLiteral("progress"),
            { { QStringLiteral("stage"), m_downloadStage },
                { QStringLiteral("percent"), qRound(double(info.progress) * 1000) / 10.0 },
                { QStringLiteral("downloaded"), double(info.downloadedSize) },
                { QStringLiteral("total"), double(info.totalSize) }, { QStringLiteral("speed"), double(info.speed) },
                { QStringLiteral("remaining"), info.remainTime }, { QStringLiteral("finished"), info.bFinished } });
        return;
    }
    if (m_runStartBytes < 0)
        m_runStartBytes = info.downloadedSize;
    const QString line
        = downloadLine(info, info.downloadedSize - m_runStartBytes, m_runClock.isValid() ? m_runClock.elapsed() : 0);
    if (m_terminal) {
        m_out << '\r' << line.leftJustified(72) << (info.bFinished ? "\n" : "");
        m_lineOpen = !info.bFinished;
        m_out.flush();
    } else {
        emitLine(line);
    }
}

void ProgressPrinter::beginDownload(const QString &stage)
{
    m_downloadStage = stage;
    m_runClock.start();
    m_runStartBytes = -1;
}

QString ProgressPrinter::downloadLine(const DownloadCallbackInfo &info, qint64 runBytes, qint64 runMs)
{
    qint64 speed = info.speed;
    if (speed == 0 && info.bFinished && runBytes > 0)
        speed = runBytes * 1000 / qMax<qint64>(1, runMs);
    return QStringLiteral("  %1%  %2 / %3  %4  %5 left")
        .arg(double(info.progress) * 100.0, 5, 'f', 1)
        .arg(QtUtil::transformUnit(info.downloadedSize, false), QtUtil::transformUnit(info.totalSize, false),
            QtUtil::transformUnit(speed, true), QtUtil::transformTime(info.remainTime));
}

void ProgressPrinter::percent(const QString &stage, double fraction)
{
    const int p = qBound(0, int(fraction * 100.0), 100);
    if (p == m_lastPercent)
        return;
    m_lastPercent = p;
    if (m_json) {
        event(QStringLiteral("progress"), { { QStringLiteral("stage"), stage }, { QStringLiteral("percent"), p } });
    } else if (m_terminal) {
        m_out << '\r' << QStringLiteral("  %1 %2%").arg(stage).arg(p, 3);
        m_lineOpen = true;
        m_out.flush();
    }
}

void ProgressPrinter::endLine()
{
    if (!m_lineOpen)
        return;
    m_out << '\n';
    m_lineOpen = false;
}
