#include "core/SerializeComponent.h"

#include "core/ComponentLookup.h"
#include "settings/Serializer.h"

namespace Morvaniel {

SerializeComponent::SerializeComponent()
    : m_serializer(std::make_unique<Serializer>())
{
}

SerializeComponent::SerializeComponent(const SerializeComponent &other)
    : ICoreComponent(other)
    , m_serializer(std::make_unique<Serializer>(*other.m_serializer))
{
}

SerializeComponent &SerializeComponent::operator=(const SerializeComponent &other)
{
    if (this != &other)
        *m_serializer = *other.m_serializer;
    return *this;
}

SerializeComponent::~SerializeComponent() = default;

void SerializeComponent::SaveSetting(UpdateSetting &s)
{
    m_serializer->SaveSetting(s);
}

void SerializeComponent::ReadSetting(UpdateSetting &s)
{
    m_serializer->ReadSetting(s);
}

void SerializeComponent::SetValueByKey(QString key, QString value)
{
    m_serializer->SetValueByKey(key, value);
}

QString SerializeComponent::GetValueByKey(QString key)
{
    return m_serializer->GetValueByKey(key);
}

void SerializeComponent::setValue(const QString &key, const QVariant &value)
{
    m_serializer->setValue(key, value);
}

QVariant SerializeComponent::getValue(const QString &key)
{
    return m_serializer->getValue(key);
}

std::shared_ptr<SerializeComponent> GetSerializeComponent()
{
    return ComponentOf<SerializeComponent>(EComponentType::Serialize);
}

} // namespace Morvaniel
