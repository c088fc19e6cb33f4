#pragma once

class QCommandLineParser;
class QTextStream;

// "morvaniel update --server URL --dir FOLDER [...]": returns the exit code.
int runUpdateCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);
