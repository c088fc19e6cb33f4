#pragma once

#include "core/ICoreComponent.h"

#include <QString>
#include <QVariant>

#include <memory>

namespace Morvaniel {

class Serializer;
struct UpdateSetting;

// The settings store as a registry component. Reached through the registry and
// GetSerializeComponent(); owns one Serializer.
class SerializeComponent : public ICoreComponent
{
public:
    SerializeComponent();
    SerializeComponent(const SerializeComponent &other);
    SerializeComponent &operator=(const SerializeComponent &other);
    ~SerializeComponent() override;

    void Setup(EComponentType) override { }
    virtual void SaveSetting(UpdateSetting &s);
    virtual void ReadSetting(UpdateSetting &s);
    virtual void SetValueByKey(QString key, QString value);
    virtual QString GetValueByKey(QString key);
    virtual void setValue(const QString &key, const QVariant &value);
    virtual QVariant getValue(const QString &key);

private:
    std::unique_ptr<Serializer> m_serializer;
};

MORVANIEL_EXPORT std::shared_ptr<SerializeComponent> GetSerializeComponent();

} // namespace Morvaniel
