#pragma once

#include "MorvanielGlobal.h"
#include "verify/VerifyCallbackInfo.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace Morvaniel {

class GameUpdateContext;
class VerifyThread;

// Verifies downloaded archives or an installed folder on its own thread, one run
// at a time, and reports to one callback on the thread that owns it.
class MORVANIEL_EXPORT Verifyer : public QObject
{
    Q_OBJECT

public:
    // The singleton, created on first use as a child of the application object.
    static Verifyer *GetInstance();
    ~Verifyer() override;

    // Replaces the earlier callback.
    virtual void RegistCallbackFunc(std::function<void(VerifyCallbackInfo &)> func);
    // Copies its inputs out of ctx and returns at once; refused while a run is going.
    void StartVerify(GameUpdateContext &ctx);
    // Ends a running run early; it ends with its one final report (bError set).
    void StopVerify();

private slots:
    void VerifyProgress(float percent);
    void VerifyComplete(bool bError, bool bSingle);

private:
    explicit Verifyer(QObject *parent);
    Q_DISABLE_COPY(Verifyer)

    QPointer<VerifyThread> m_VerifyThread;
    std::function<void(VerifyCallbackInfo &)> m_callback;
    VerifyCallbackInfo m_info;
    bool m_bBusy = false;
    static Verifyer *m_pVerifyerInstance;
};

} // namespace Morvaniel
