#pragma once

class QCommandLineParser;
class QTextStream;

// "morvaniel self-update --server URL --dir FOLDER [--launcher-channel Launcher]
// [--launcher-version V]": the launcher's own update. The launcher's guide
// manifest (<Host>/<launcher channel>/manifest.txt) names the newest version;
// its full pack is downloaded, checked, unpacked and moved over FOLDER by the
// update stage, which deletes what the new version no longer has. The installed
// launcher version is kept in FOLDER/morvaniel-install.ini ("LauncherVersion")
// unless --launcher-version names it.
int runSelfUpdateCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);
