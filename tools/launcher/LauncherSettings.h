#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

namespace Launcher {

// The window's own settings, kept through the library's settings component
// under keys of their own ("Launcher/..."), which the flow's saves of the
// update state leave alone.
struct LauncherSettings
{
    QString server; // the first of servers, or the only one
    // The server and its mirrors in the order to try them, kept under
    // "Launcher/Servers" (an INI list: "http://a, http://b"); a settings file
    // with only the older "Launcher/Server" reads as that one server.
    QStringList servers;
    QString installDir;
    int speedLimitKiB = 0; // 0: unlimited
    bool autoUpdate = false;
    bool backgroundMusic = true;
    // Publisher keys ("ed25519:..."), kept under "Launcher/TrustedKeys".
    QStringList trustedKeys;
    // The key of keyFileName() beside the program: part of the program, not a setting.
    QStringList programKeys;

    // servers, or server alone when the list is empty.
    QStringList addresses() const;
    // The addresses a stored list and the single key name, in order, each once,
    // without empty entries; the list may be an INI list or one comma-separated text.
    static QStringList readServers(const QVariant &list, const QVariant &single);

    static LauncherSettings load();
    // On the GUI thread, like every write of the launcher's.
    void save() const;

    static QString keyFileName() { return QStringLiteral("release.pub"); }
    // Reads keyFileName() in folder into programKeys. False with error when
    // the file is there but holds no key (the window must not fall back to
    // unsigned updates then).
    bool readKeyFile(const QString &folder, QString &error);
    // Signed releases are required when there is one.
    QStringList allTrustedKeys() const;
};

} // namespace Launcher
