#pragma once

#include "FlowOptions.h"

#include <QObject>
#include <QThread>

#include <functional>

class UpdateFlow;

// Runs the update flow on a thread of its own, one run at a time, so that
// the window's event loop never waits inside a run. The flow's signals reach
// the window queued, in the order the flow sent them.
class FlowThread : public QObject
{
    Q_OBJECT

public:
    enum class Run { Check, Update, Repair, CheckLauncher, UpdateLauncher };
    Q_ENUM(Run)

    explicit FlowThread(QObject *parent = nullptr);
    // Pauses a running run, answers Cancel to a question, and waits for the
    // run to end before the thread stops.
    ~FlowThread() override;

    UpdateFlow *flow() const { return m_flow; }
    bool busy() const { return m_busy; }
    // Starts run with options; false while another run is busy.
    bool start(Run run, const FlowOptions &options);
    // Runs job on the flow's thread (between the steps of a run, or while
    // idle); jobDone() follows.
    void post(const std::function<void()> &job);

signals:
    void runFinished(FlowThread::Run run, int result);
    void jobDone();

private:
    QThread m_thread;
    UpdateFlow *m_flow = nullptr;
    bool m_busy = false;
    Run m_run = Run::Check;
};
