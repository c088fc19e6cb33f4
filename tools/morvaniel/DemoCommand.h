#pragma once

class QCommandLineParser;
class QTextStream;

// "morvaniel demo [--keep]": the whole round trip on loopback, in one process.
// Generates the three-version sample game, publishes it to a temporary
// folder, serves it on 127.0.0.1, installs it from nothing through the full
// pack, updates an install of the first version through the patch chain,
// damages that install and repairs it, and ends with a summary table that
// says what was downloaded and whether every installed file matches the
// published version byte for byte. Exit code 0 when every check passed.
int runDemo(const QCommandLineParser &options, QTextStream &out);
