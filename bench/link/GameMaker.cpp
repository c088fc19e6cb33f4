// Writes the versions of a LargeGame for the link benchmark.
//
//   linkbench-game <root> <versions> <MiB>
#include "LargeGame.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: linkbench-game <root> <versions> <MiB>\n");
        return 2;
    }
    QString error;
    const QStringList versions = Publisher::LargeGame::generate(
        QString::fromLocal8Bit(argv[1]), std::atoi(argv[2]), qint64(std::atoll(argv[3])) << 20, error);
    if (versions.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(versions.join(QLatin1Char(' '))));
    return 0;
}
