#include "SignedRelease.h"

#include "InstallState.h"

#include "settings/SettingKeys.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "trust/ReleaseTrust.h"
#include "util/QFileUtils.h"

#include <QFile>
#include <QSettings>

using namespace Morvaniel;

namespace HostFlow::SignedRelease {

bool readPublicKeys(const QStringList &files, QStringList &keys, QString &error)
{
    keys.clear();
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        // A key file is one short line: 4 KiB is plenty.
        const QString key = QString::fromLatin1(file.read(4096)).trimmed();
        if (ReleaseKeys::ParsePublicKey(key).isEmpty()) {
            error = QStringLiteral("%1 holds no public key (one line, ed25519:...)").arg(path);
            return false;
        }
        keys << key;
    }
    return true;
}

namespace {

QString channelKey(const QString &key, const QString &channel)
{
    return key + QLatin1Char('/') + channel;
}

} // namespace

bool accept(const QByteArray &document, const QByteArray &signature, const QString &channel, const QString &installDir,
    AcceptedRelease &remember, QString &error)
{
    const QSettings state(QFileUtils::CombinePath(installDir, InstallState::stateFileName()), QSettings::IniFormat);
    AcceptedRelease before;
    before.serial = state.value(channelKey(KEY_ACCEPTED_RELEASE_SERIAL, channel)).toLongLong();
    before.nextKey = state.value(channelKey(KEY_RELEASE_KEY, channel)).toString();
    before.digest = state.value(channelKey(KEY_ACCEPTED_RELEASE_DIGEST, channel)).toString();
    ReleaseDocument accepted;
    return ReleaseTrust::Accept(document, signature, channel, before, remember, accepted, error);
}

bool remember(const QString &channel, const QString &installDir, const AcceptedRelease &remember, QString &error)
{
    QSettings state(QFileUtils::CombinePath(installDir, InstallState::stateFileName()), QSettings::IniFormat);
    state.setValue(channelKey(KEY_ACCEPTED_RELEASE_SERIAL, channel), QString::number(remember.serial));
    state.setValue(channelKey(KEY_RELEASE_KEY, channel), remember.nextKey);
    state.setValue(channelKey(KEY_ACCEPTED_RELEASE_DIGEST, channel), remember.digest);
    state.sync();
    if (state.status() != QSettings::NoError) {
        error = QStringLiteral("cannot write the install state %1").arg(state.fileName());
        return false;
    }
    return true;
}

} // namespace HostFlow::SignedRelease
