#pragma once

#include <QCoreApplication>

// The process-wide workers (downloads, verification, extraction, patching,
// checks) are made on first use as children of the application object, which
// deletes them when it ends. Each class keeps its pointer in a static member.
namespace WorkerInstance {

// The stored worker, made by create(application object) the first time.
template <typename Worker, typename Create> Worker *get(Worker *&instance, Create create)
{
    if (!instance)
        instance = create(QCoreApplication::instance());
    return instance;
}

// For the worker's destructor: only the stored worker clears the pointer, so
// that ending some other object of the class cannot orphan the real one.
template <typename Worker> void release(Worker *&instance, const Worker *dying)
{
    if (instance == dying)
        instance = nullptr;
}

} // namespace WorkerInstance
