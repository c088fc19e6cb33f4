#include "util/Cryptor.h"

void Cryptor::Encode(QByteArray input, QByteArray &output)
{
    Q_UNUSED(input)
    Q_UNUSED(output)
}

void Cryptor::Decode(QByteArray input, QByteArray &output)
{
    Q_UNUSED(input)
    Q_UNUSED(output)
}
