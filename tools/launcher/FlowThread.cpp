#include "FlowThread.h"

#include "UpdateFlow.h"

#include <QCoreApplication>
#include <QElapsedTimer>

FlowThread::FlowThread(QObject *parent)
    : QObject(parent)
    , m_flow(new UpdateFlow)
{
    m_thread.setObjectName(QStringLiteral("update flow"));
    m_flow->moveToThread(&m_thread);
    connect(m_flow, &UpdateFlow::finished, this, [this](int result) {
        m_busy = false;
        emit runFinished(m_run, result);
    });
    m_thread.start();
}

FlowThread::~FlowThread()
{
    if (m_busy) {
        m_flow->pause();
        m_flow->answerFilesInUse(false);
        // The run still starts the library's stages on this thread: serve it
        // until the stage under way has ended.
        QElapsedTimer clock;
        clock.start();
        while (m_busy && clock.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    m_thread.quit();
    m_thread.wait();
    // The thread has ended: the flow's session gives its callbacks back on this one.
    delete m_flow;
}

bool FlowThread::start(Run run, const FlowOptions &options)
{
    if (m_busy)
        return false;
    m_busy = true;
    m_run = run;
    UpdateFlow *flow = m_flow;
    if (run == Run::Update || run == Run::Repair)
        flow->clearPause();
    QMetaObject::invokeMethod(
        flow,
        [flow, run, options]() {
            flow->setOptions(options);
            switch (run) {
            case Run::Check:
                flow->check();
                break;
            case Run::Update:
                flow->update();
                break;
            case Run::Repair:
                flow->verify(true);
                break;
            case Run::CheckLauncher:
                flow->checkLauncher();
                break;
            case Run::UpdateLauncher:
                flow->updateLauncher();
                break;
            }
        },
        Qt::QueuedConnection);
    return true;
}

void FlowThread::post(const std::function<void()> &job)
{
    QMetaObject::invokeMethod(
        m_flow,
        [this, job]() {
            job();
            // This object outlives the thread, which it waits for.
            QMetaObject::invokeMethod(this, &FlowThread::jobDone, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
