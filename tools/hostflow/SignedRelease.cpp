#include "SignedRelease.h"

#include "InstallState.h"

#include "planning/ReleaseDocument.h"
#include "planning/ReleaseTrust.h"
#include "settings/Serializer.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"
#include "util/ReleaseKeys.h"

#include <QFile>
#include <QSettings>

using namespace Morvaniel;

namespace SignedRelease {

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

bool accept(const QByteArray &document, const QByteArray &signature, const QString &channel, const QString &installDir,
    QString &error)
{
    // The keys ReleaseTrust keeps per channel in the settings it is given.
    const QStringList keys{ KEY_ACCEPTED_RELEASE_SERIAL + QLatin1Char('/') + channel,
        KEY_RELEASE_KEY + QLatin1Char('/') + channel, KEY_ACCEPTED_RELEASE_DIGEST + QLatin1Char('/') + channel };
    QSettings state(QFileUtils::CombinePath(installDir, InstallState::stateFileName()), QSettings::IniFormat);
    Serializer settings;
    for (const QString &key : keys)
        settings.SetValueByKey(key, state.value(key).toString());
    ReleaseDocument accepted;
    if (!ReleaseTrust::Accept(document, signature, channel, settings, accepted, error))
        return false;
    for (const QString &key : keys)
        state.setValue(key, settings.GetValueByKey(key));
    state.sync();
    return true;
}

RunScope::~RunScope()
{
    ReleaseTrust::EndRun();
}

} // namespace SignedRelease
