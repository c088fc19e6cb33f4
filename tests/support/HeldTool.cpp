// Stands in for 7z or hpatchz beside a program under test and runs the real
// one, "real-<name>" in the same folder, with the same arguments and output.
// When MORVANIEL_TEST_HOLD names it (a comma-separated list: "7z", "hpatchz"),
// it first prints a progress line as the tool would (37 %) and holds for up
// to a minute: the test can act while the stage that runs the tool is under
// way, which the real tool on a small game ends before anyone could look.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Not applicationFilePath(): one program serves under two names.
    const QFileInfo self(QString::fromLocal8Bit(argv[0]));
    const QString name = self.completeBaseName();
    if (qgetenv("MORVANIEL_TEST_HOLD").split(',').contains(name.toLatin1())) {
        std::fputs(name == QLatin1String("hpatchz") ? "progress:(37)\n" : " 37% 1 - held\n", stdout);
        std::fflush(stdout);
        for (int i = 0; i < 600; ++i)
            QThread::msleep(100);
    }
    QString real = self.absoluteDir().filePath(QStringLiteral("real-") + self.fileName());
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(real, app.arguments().mid(1));
    if (!tool.waitForStarted(30000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(real));
        return 2;
    }
    tool.waitForFinished(-1);
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : 2;
}
