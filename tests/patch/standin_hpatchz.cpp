// Stand-in for the patch tool: records its command line and answers as the
// test asks through the environment (HPATCHZ_STANDIN_LOG, _STDOUT, _SLEEP,
// _EXIT). A program rather than a script, so that it runs on Windows too.
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryFile>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QFile log(qEnvironmentVariable("HPATCHZ_STANDIN_LOG"));
    if (log.open(QIODevice::Append))
        log.write((args.join(QLatin1Char(' ')) + QLatin1Char('\n')).toUtf8());
    log.close();
    const QByteArray out = qgetenv("HPATCHZ_STANDIN_STDOUT");
    if (!out.isEmpty()) {
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (qEnvironmentVariableIsSet("HPATCHZ_STANDIN_SLEEP")) {
        // The real tool writes its result beside the file until it is done.
        if (args.size() >= 3) {
            QTemporaryFile partial(args.at(2) + QStringLiteral(".hpatch-XXXXXX"));
            partial.setAutoRemove(false);
            partial.open();
        }
        QThread::sleep(qEnvironmentVariableIntValue("HPATCHZ_STANDIN_SLEEP"));
        return 0;
    }
    const int code = qEnvironmentVariableIntValue("HPATCHZ_STANDIN_EXIT");
    if (code != 0)
        std::fprintf(stderr, "stand-in failure %d\n", code);
    return code;
}
