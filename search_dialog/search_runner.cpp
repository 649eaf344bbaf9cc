#include "search_dialog/search_runner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <memory>

#include "search/stack_guard.h"

namespace quarry {

SearchRunner::SearchRunner(QObject* parent) : QObject(parent), stackBytes_(SearchStackBytes()) {}

bool SearchRunner::PollCancel() {
    return !cancel_.load(std::memory_order_relaxed);
}

void SearchRunner::ReportProgress(int percent) {
    // Only changes cross to the other thread: the matcher reports often.
    if (lastPercent_.exchange(percent, std::memory_order_relaxed) != percent) {
        emit Progress(percent);
    }
}

void SearchRunner::RequestCancel() {
    cancel_.store(true, std::memory_order_relaxed);
}

bool SearchRunner::Run(const std::function<void()>& work) {
    lastPercent_.store(-1, std::memory_order_relaxed);
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->setStackSize(static_cast<uint>(stackBytes_));
    QEventLoop loop;
    connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        return false;
    }
    running_ = true;
    loop.exec();
    if (!thread->isFinished()) {
        // The loop ended early: the application is quitting. Stop the search
        // rather than wait for it to finish.
        RequestCancel();
    }
    thread->wait();
    running_ = false;
    return true;
}

}  // namespace quarry
