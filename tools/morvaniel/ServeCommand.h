#pragma once

class QCommandLineParser;
class QTextStream;

// "morvaniel serve [--root DIR] [--port N] [--log]": serves DIR (default: the
// current folder) on 127.0.0.1 with GET, HEAD and Range, through the same
// server the download tests use. Port 0 picks a free port; the address is
// printed first. --log prints one line per request ("GET /path bytes=N-").
// Ends on Ctrl+C.
int runServeCommand(const QCommandLineParser &options, QTextStream &out, QTextStream &err);
