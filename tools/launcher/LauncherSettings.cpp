#include "LauncherSettings.h"

#include "SignedRelease.h"

#include "core/SerializeComponent.h"

#include <QDir>
#include <QFileInfo>

namespace Launcher {

using namespace Morvaniel;

namespace {

const QString ServerKey = QStringLiteral("Launcher/Server");
const QString ServersKey = QStringLiteral("Launcher/Servers");
const QString InstallDirKey = QStringLiteral("Launcher/InstallDir");
const QString SpeedLimitKey = QStringLiteral("Launcher/SpeedLimitKiB");
const QString AutoUpdateKey = QStringLiteral("Launcher/AutoUpdate");
const QString MusicKey = QStringLiteral("Launcher/BackgroundMusic");
const QString TrustedKeysKey = QStringLiteral("Launcher/TrustedKeys");

} // namespace

LauncherSettings LauncherSettings::load()
{
    const auto store = GetSerializeComponent();
    LauncherSettings s;
    s.servers = readServers(store->getValue(ServersKey), store->getValue(ServerKey));
    s.server = s.servers.value(0);
    s.installDir = store->getValue(InstallDirKey).toString();
    s.speedLimitKiB = qMax(0, store->getValue(SpeedLimitKey).toInt());
    s.autoUpdate = store->getValue(AutoUpdateKey).toBool();
    const QVariant music = store->getValue(MusicKey);
    s.backgroundMusic = music.isValid() ? music.toBool() : true;
    s.trustedKeys = store->getValue(TrustedKeysKey).toStringList();
    s.trustedKeys.removeAll(QString());
    return s;
}

void LauncherSettings::save() const
{
    const auto store = GetSerializeComponent();
    const QStringList all = addresses();
    // The single key keeps the first for a launcher that knows no list.
    store->setValue(ServerKey, all.value(0));
    store->setValue(ServersKey, all);
    store->setValue(InstallDirKey, installDir);
    store->setValue(SpeedLimitKey, speedLimitKiB);
    store->setValue(AutoUpdateKey, autoUpdate);
    store->setValue(MusicKey, backgroundMusic);
    store->setValue(TrustedKeysKey, trustedKeys);
}

QStringList LauncherSettings::addresses() const
{
    if (!servers.isEmpty())
        return servers;
    return server.isEmpty() ? QStringList() : QStringList{ server };
}

QStringList LauncherSettings::readServers(const QVariant &list, const QVariant &single)
{
    QStringList entries;
    // QSettings reads "a, b" as a list and "a" as a text; a text may still
    // hold commas when it was written by hand with quotes.
    for (const QString &item : list.toStringList())
        entries += item.split(QLatin1Char(','));
    QStringList out;
    for (const QString &entry : entries) {
        const QString address = entry.trimmed();
        if (!address.isEmpty() && !out.contains(address))
            out << address;
    }
    if (out.isEmpty()) {
        const QString one = single.toString().trimmed();
        if (!one.isEmpty())
            out << one;
    }
    return out;
}

bool LauncherSettings::readKeyFile(const QString &folder, QString &error)
{
    programKeys.clear();
    const QString file = QDir(folder).filePath(keyFileName());
    return !QFileInfo::exists(file) || HostFlow::SignedRelease::readPublicKeys({ file }, programKeys, error);
}

QStringList LauncherSettings::allTrustedKeys() const
{
    QStringList all = trustedKeys;
    for (const QString &key : programKeys)
        if (!all.contains(key))
            all << key;
    return all;
}

} // namespace Launcher
