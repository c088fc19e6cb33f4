#pragma once

#include "MorvanielGlobal.h"
#include "patch/PatcherCallbackInfo.h"

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <functional>

namespace Morvaniel {

class GameUpdateContext;
class MergeThread;
class UpdateThread;

// Applies an unpacked update: the merge stage (binary patches into the game
// folder) or the update stage (the launcher's own file set), and reports both
// through one callback on the owner's thread.
class MORVANIEL_EXPORT Patcher : public QObject
{
    Q_OBJECT

public:
    // The singleton, created on first use as a child of the application object.
    static Patcher *GetInstance();
    ~Patcher() override;

    virtual void RegistCallbackFunc(std::function<void(PatcherCallbackInfo &)> callback);
    // Runs the merge stage when context.bGameUpdate is set, else the update
    // stage. Returns at once; the result comes through the callback.
    void StartApplyPatch(GameUpdateContext &context);

private slots:
    void MergeProgress(qulonglong percent, qulonglong totalpercent, QVariant status);
    void UpdateProgress(int percent, int totalpercent);
    void MergeComplete(QString errorString, bool needMd5CheckPakDir);
    void UpdateComplete(QString errString);

private:
    explicit Patcher(QObject *parent);
    Q_DISABLE_COPY(Patcher)

    static Patcher *m_pPatcherInstance;
    QPointer<MergeThread> m_mergeThread;
    QPointer<UpdateThread> m_updateThread;
    std::function<void(PatcherCallbackInfo &)> m_callback;
    PatcherCallbackInfo m_info;
    // A stage is busy from its start until its final report went out: until
    // then the thread's inputs and outcome are that run's own.
    bool m_bMergeBusy = false;
    bool m_bUpdateBusy = false;
};

} // namespace Morvaniel
