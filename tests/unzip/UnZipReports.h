#pragma once

// What the extractor reported to its callback, shared by the extraction tests.

#include "unzip/UnZipCallbackInfo.h"
#include "unzip/UnZipper.h"

#include <QThread>
#include <QVector>

struct UnZipReports
{
    QVector<Morvaniel::UnZipCallbackInfo> progress;
    QVector<Morvaniel::UnZipCallbackInfo> finals;
    int offThread = 0; // reports that did not arrive on the extractor's own thread
};

// Registers a callback that copies every report into r.
inline void listenToUnZipper(UnZipReports &r)
{
    Morvaniel::UnZipper *u = Morvaniel::UnZipper::GetInstance();
    u->RegistCallbackFunc([&r, u](Morvaniel::UnZipCallbackInfo &info) {
        if (QThread::currentThread() != u->thread())
            ++r.offThread;
        (info.bComplete ? r.finals : r.progress).append(info);
    });
}
