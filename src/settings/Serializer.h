#pragma once

#include "MorvanielGlobal.h"

#include <QPointer>
#include <QString>
#include <QVariant>

class QSettings;

namespace Morvaniel {

struct UpdateSetting;

// Keeps the launcher's settings in config.ini beside the executable: as a typed
// record (ReadSetting/SaveSetting) and as free keys for the host.
// Copies share one settings object; it lives until the process ends.
class MORVANIEL_EXPORT Serializer
{
public:
    Serializer();
    Serializer(const Serializer &) = default;
    Serializer(Serializer &&other) noexcept;
    Serializer &operator=(const Serializer &) = default;
    Serializer &operator=(Serializer &&other) noexcept;
    ~Serializer() = default;

    // Fills the record, writing the defaults of missing keys back into the file.
    void ReadSetting(UpdateSetting &s);
    void SaveSetting(UpdateSetting &s);

    // A missing key reads as a null string.
    QString GetValueByKey(const QString &key);
    void SetValueByKey(const QString &key, const QString &value);
    QVariant getValue(const QString &key);
    void setValue(const QString &key, const QVariant &value);

    // Where config.ini lives: the application folder.
    static QString configPath();

private:
    void InitConfig();
    // Derives the working folders below the install folder.
    static void deriveFolders(UpdateSetting &s);

    QPointer<QSettings> m_ini;
};

} // namespace Morvaniel
