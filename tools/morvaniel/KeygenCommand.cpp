#include "KeygenCommand.h"

#include "trust/ReleaseKeys.h"
#include "util/QFileUtils.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

using namespace Morvaniel;

int runKeygenCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    const QString usage = QStringLiteral("usage: morvaniel keygen <dir>\n");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a new key pair for signed releases: <dir>/release.key, the secret key\n"
                       "(readable by its owner only; publish --sign-key), and <dir>/release.pub, the\n"
                       "public key (update, verify, repair, self-update --trust). Never overwrites."));
    parser.addPositionalArgument(QStringLiteral("dir"), QStringLiteral("The folder for the two files."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Prints this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Prints the version."));
    parser.addOptions({ help, version });
    if (!parser.parse(QStringList{ QStringLiteral("morvaniel") } + args)) {
        err << "keygen: " << parser.errorText() << '\n' << usage;
        return 2;
    }
    if (parser.isSet(version)) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    if (parser.isSet(help)) {
        const QString text = parser.helpText();
        out << usage << text.mid(text.indexOf(QLatin1Char('\n')) + 1);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        err << "keygen: "
            << (positional.isEmpty() ? QStringLiteral("a folder is needed") : QStringLiteral("one folder only")) << '\n'
            << usage;
        return 2;
    }
    const QString dir = positional.first();
    const QString secret = QFileUtils::CombinePath(dir, QStringLiteral("release.key"));
    const QString pub = QFileUtils::CombinePath(dir, QStringLiteral("release.pub"));
    // A public key without its secret (or the other way round) is as good as
    // lost: refuse before writing either.
    for (const QString &path : { secret, pub }) {
        if (QFileInfo::exists(path)) {
            err << "keygen: " << path << " exists; keys are never overwritten\n";
            return 1;
        }
    }
    QString error;
    if (!QDir().mkpath(dir)) {
        err << "keygen: cannot create " << dir << '\n';
        return 1;
    }
    if (!ReleaseKeys::GenerateKeyFiles(secret, pub, error)) {
        err << "keygen: " << error << '\n';
        return 1;
    }
    QFile file(pub);
    file.open(QIODevice::ReadOnly);
    out << "wrote " << secret << " (secret: keep it away from the server) and " << pub << " (public)\n"
        << "public key: " << QString::fromLatin1(file.readAll()).trimmed() << '\n';
    return 0;
}
