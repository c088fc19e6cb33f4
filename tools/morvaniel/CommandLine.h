#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QCommandLineParser;
class QTextStream;

// One command of the host: its line in the usage, its help, its options and
// how it runs.
struct Command
{
    QString name;
    QString synopsis; // what follows "morvaniel " in the usage
    QString description; // the help's text above the options
    QList<QCommandLineOption> options;
    // Runs with the options parsed; returns the exit code.
    std::function<int(const QCommandLineParser &, QTextStream &out, QTextStream &err)> run;
    // Instead of run, for a command that parses its own arguments (publish,
    // whose options the publisher keeps): every argument after the name.
    std::function<int(const QStringList &, QTextStream &out, QTextStream &err)> runArguments;
};

// The command line of the host: "morvaniel <command> [options]", with --help
// and --version anywhere. One parser reads the command's name and then, with
// the command's options added, what follows it. Bad usage ends with exit
// code 2 and a message on err; no arguments print the usage on err.
class CommandLine
{
public:
    explicit CommandLine(QList<Command> commands);

    // arguments as QCoreApplication::arguments() gives them. Returns the exit code.
    int run(const QStringList &arguments, QTextStream &out, QTextStream &err) const;
    // The usage of every command: `morvaniel --help`.
    QString usage() const;

private:
    const Command *find(const QString &name) const;

    QList<Command> m_commands;
};
