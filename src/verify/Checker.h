#pragma once

#include "MorvanielGlobal.h"
#include "verify/CheckCallbackInfo.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace Morvaniel {

class CheckerThread;
class GameUpdateContext;

// Finds the first file under a folder that another process holds open, on its
// own thread, and reports to one callback on the thread that owns it.
class MORVANIEL_EXPORT Checker : public QObject
{
    Q_OBJECT

public:
    // The singleton, created on first use as a child of the application object.
    static Checker *GetInstance();
    ~Checker() override;

    // Replaces the earlier callback.
    virtual void RegistCallbackFunc(std::function<void(CheckCallbackInfo &)> func);
    // Checks ctx.checkFolder; does nothing while a check is running.
    void StartCheck(GameUpdateContext &ctx);
    // Ends a running check early; it ends with its one final report.
    void StopCheck();

private slots:
    void CheckProgress(float percent);
    void CheckComplete(bool bError, const QString &errorPath);

private:
    explicit Checker(QObject *parent);
    Q_DISABLE_COPY(Checker)

    QPointer<CheckerThread> m_CheckerThread;
    std::function<void(CheckCallbackInfo &)> m_callback;
    CheckCallbackInfo m_info;
    bool m_bBusy = false;
    static Checker *m_pCheckerInstance;
};

} // namespace Morvaniel
