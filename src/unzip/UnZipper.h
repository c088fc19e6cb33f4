#pragma once

#include "MorvanielGlobal.h"
#include "unzip/UnZipCallbackInfo.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace Morvaniel {

class GameUpdateContext;
class ZipThread;

// Extracts the archives of an update with the external archiver on its own
// thread, one job at a time, and reports to one callback on the thread that owns it.
class MORVANIEL_EXPORT UnZipper : public QObject
{
    Q_OBJECT

public:
    // The singleton, created on first use as a child of the application object.
    static UnZipper *GetInstance();
    ~UnZipper() override;

    // Takes unzipFiles, unzipTargetDir and updateMode from ctx and returns at
    // once. Refused (with a log line) while a job is running.
    virtual void StartUnZip(GameUpdateContext &ctx);
    // Replaces the earlier callback.
    virtual void RegistCallbackFunc(std::function<void(UnZipCallbackInfo &)> func);

private slots:
    void DecompressProgress(int percent, int curCount, int totalCount);
    void DecompressComplete(int code, const QString &errStr);

private:
    explicit UnZipper(QObject *parent);
    Q_DISABLE_COPY(UnZipper)

    QPointer<ZipThread> m_ZipThread;
    std::function<void(UnZipCallbackInfo &)> m_callback;
    UnZipCallbackInfo m_info;
    // Busy from a start until its final report went out: until then the
    // thread's inputs and outcome belong to that job.
    bool m_bBusy = false;
    static UnZipper *m_pUnzipperInstance;
};

} // namespace Morvaniel
