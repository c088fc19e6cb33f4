#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

int printVersion(QTextStream &out)
{
    out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
    return 0;
}

// The parser names an unknown option without its dashes; the message shows it
// as typed.
QString typedOption(const QString &name, const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        const QString bare = argument.section(QLatin1Char('='), 0, 0);
        if (bare == QLatin1String("--") + name || bare == QLatin1Char('-') + name)
            return argument;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

bool takesValue(const QList<QCommandLineOption> &options, const QString &argument)
{
    for (const QCommandLineOption &option : options)
        for (const QString &name : option.names())
            if (!option.valueName().isEmpty()
                && (argument == QLatin1String("--") + name || argument == QLatin1Char('-') + name))
                return true;
    return false;
}

// The messages of the host's hand-written parsers, kept: "<who>: unknown
// argument X", "<who>: X needs a value".
void explainError(const QString &who, const QCommandLineParser &parser, const QList<QCommandLineOption> &options,
    const QStringList &arguments, QTextStream &err)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        err << who << ": unknown argument " << typedOption(unknown.first(), arguments) << '\n';
    // The parser takes whatever follows an option as its value: only the last
    // argument can lack one.
    else if (arguments.size() > 1 && takesValue(options, arguments.last()))
        err << who << ": " << arguments.last() << " needs a value\n";
    else
        err << who << ": " << parser.errorText() << '\n';
}

} // namespace

CommandLine::CommandLine(QList<Command> commands)
    : m_commands(std::move(commands))
{
}

const Command *CommandLine::find(const QString &name) const
{
    for (const Command &command : m_commands)
        if (command.name == name)
            return &command;
    return nullptr;
}

QString CommandLine::usage() const
{
    QString text;
    for (const Command &command : m_commands)
        text += (text.isEmpty() ? QStringLiteral("usage: morvaniel ") : QStringLiteral("       morvaniel "))
            + command.synopsis + QLatin1Char('\n');
    return text
        + QStringLiteral("       morvaniel [<command>] --help | --version\n"
                         "\n"
                         "`morvaniel <command> --help` describes a command and its options. Without\n"
                         "arguments this text goes to standard error with exit code 2. Exit codes:\n"
                         "0 done, 1 failed, 2 bad usage, 130 stopped by Ctrl+C.\n");
}

int CommandLine::run(const QStringList &arguments, QTextStream &out, QTextStream &err) const
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Prints this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Prints the version."));
    parser.addOptions({ help, version });

    // First the command's name: what follows it is the command's.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (!parser.parse(arguments)) {
        explainError(QStringLiteral("morvaniel"), parser, { help, version }, arguments, err);
        err << '\n' << usage();
        return 2;
    }
    if (parser.isSet(version))
        return printVersion(out);
    const bool helpFirst = parser.isSet(help);
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        (helpFirst ? out : err) << usage();
        return helpFirst ? 0 : 2;
    }
    const Command *command = find(positional.first());
    if (!command) {
        err << "morvaniel: unknown command " << positional.first() << "\n\n" << usage();
        return 2;
    }
    const QStringList rest = positional.mid(1);
    if (command->runArguments)
        return command->runArguments(helpFirst ? rest + QStringList{ QStringLiteral("--help") } : rest, out, err);

    const QStringList commandArguments = QStringList{ arguments.value(0) } + rest;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addOptions(command->options);
    parser.setApplicationDescription(command->description);
    const QString commandUsage = QStringLiteral("usage: morvaniel %1\n").arg(command->synopsis);
    if (!parser.parse(commandArguments)) {
        explainError(command->name, parser, command->options, commandArguments, err);
        err << commandUsage;
        return 2;
    }
    if (parser.isSet(version))
        return printVersion(out);
    if (helpFirst || parser.isSet(help)) {
        // Qt's own first line would put "[options]" before the command's name.
        const QString text = parser.helpText();
        out << commandUsage << text.mid(text.indexOf(QLatin1Char('\n')) + 1);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << command->name << ": unknown argument " << parser.positionalArguments().first() << '\n' << commandUsage;
        return 2;
    }
    return command->run(parser, out, err);
}
