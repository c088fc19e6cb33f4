#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>

// Kept for hosts built against it; both operations leave their output untouched.
class MORVANIEL_EXPORT Cryptor
{
public:
    void Encode(QByteArray input, QByteArray &output);
    void Decode(QByteArray input, QByteArray &output);
};
