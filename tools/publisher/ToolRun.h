#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>

namespace Publisher {

// Runs program to its end and returns whether it ended normally (its exit
// code is the caller's to judge). One that could not be started or that
// crashed is started again, twice at most, after a short pause and the
// caller's clean-up: on a loaded Windows machine (and under Wine) starting a
// process fails now and then for reasons of the moment, and a publication of
// many archives should not end on one such hiccup.
inline bool runTool(
    QProcess &proc, const QString &program, const QStringList &args, const std::function<void()> &beforeAgain = {})
{
    constexpr int Attempts = 3;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (attempt > 0) {
            if (beforeAgain)
                beforeAgain();
            QThread::msleep(500 * attempt);
        }
        proc.start(program, args);
        // Game files run to several GiB; a tool takes as long as it takes.
        if (proc.waitForStarted(-1) && proc.waitForFinished(-1) && proc.exitStatus() == QProcess::NormalExit)
            return true;
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(10000);
        }
    }
    return false;
}

} // namespace Publisher
