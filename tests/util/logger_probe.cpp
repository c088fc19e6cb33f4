// Runs one logging scenario in a process of its own, in the folder given first.
#include "core/Global.h"
#include "util/Logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || !QDir::setCurrent(args.at(1)))
        return 2;
    const QString mode = args.at(2);
    Global::Var::bLog = mode != QLatin1String("off");
    Logger::LogToFile(true);

    if (mode == QLatin1String("line") || mode == QLatin1String("off")) {
        Logger::LogInfo(QStringLiteral("Tag"), QStringLiteral("hello 更新"));
    } else if (mode == QLatin1String("kinds")) {
        Logger::LogWarning(QStringLiteral("W"), QStringLiteral("as debug"));
        QMessageLogger("C:\\src\\a.cpp", 12, nullptr).warning("windows path");
        QMessageLogger("/src/b.cpp", 7, nullptr).info("posix path");
        QMessageLogger("/src/a%1b.cpp", 9, nullptr).info("percent in the file name");
        QMessageLogger(nullptr, 0, nullptr).critical("critical");
    } else if (mode == QLatin1String("twice")) {
        // Installing again must not make the handler its own predecessor.
        Logger::LogToFile(true);
        Logger::LogToFile(false);
        Logger::LogToFile(true);
        Logger::LogInfo(QStringLiteral("Tag"), QStringLiteral("once"));
    } else if (mode == QLatin1String("threads")) {
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back(QThread::create([t] {
                for (int i = 0; i < 1000; ++i)
                    Logger::LogInfo(QStringLiteral("T%1").arg(t), QStringLiteral("line %1").arg(i));
            }));
            threads.back()->start();
        }
        for (auto &thread : threads)
            thread->wait();
    } else if (mode == QLatin1String("fatal")) {
        Logger::LogFatal(QStringLiteral("Tag"), QStringLiteral("boom %s %n"));
    } else {
        return 2;
    }
    return 0;
}
