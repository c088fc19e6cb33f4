#pragma once

#include "MorvanielGlobal.h"
#include "trust/ReleaseDocument.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace Morvaniel {

// What an install keeps of a channel's signed releases from one run to the
// next. The library keeps none of it: the caller stores it with the install's
// own state, and only once the run that accepted it has succeeded.
struct MORVANIEL_EXPORT AcceptedRelease
{
    qint64 serial = 0; // the highest serial accepted; a lower one is a replay
    QString nextKey; // the key a document handed the channel over to, or empty
    QString digest; // BLAKE2b (hex) of the document accepted at serial

    bool operator==(const AcceptedRelease &o) const
    {
        return serial == o.serial && nextKey == o.nextKey && digest == o.digest;
    }
    bool operator!=(const AcceptedRelease &o) const { return !(*this == o); }
};

// The verdict on one fetched release document.
struct MORVANIEL_EXPORT ReleaseVerdict
{
    bool accepted = false;
    QString error; // why not, when refused
    ReleaseDocument document; // the document, when accepted
    AcceptedRelease remember; // what the install keeps once the run succeeded (before, when refused)
};

// The acceptance rule of signed releases, a pure function: the document must
// be signed by one of trustedKeys (once the channel was handed over, by the
// handed-over key only, which must itself be among trustedKeys), for channel,
// not expired at now, at a serial no lower than the one accepted before and,
// at that same serial, the same bytes.
MORVANIEL_EXPORT ReleaseVerdict JudgeRelease(const QByteArray &document, const QByteArray &signature,
    const QString &channel, const QStringList &trustedKeys, const AcceptedRelease &before, const QDateTime &now);

} // namespace Morvaniel
