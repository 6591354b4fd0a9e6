// Runs a blocking piece of work (a mail transport call) on a worker thread while the calling (UI)
// thread keeps painting. User input is not delivered meanwhile, so the work behaves like a blocking
// call to the user: nothing can be clicked or typed, but the window shows its state. Timers and other
// non-input events are still delivered: a caller that a timer could re-enter must guard against it.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <exception>
#include <optional>
#include <thread>
#include <type_traits>

namespace korimo {

// How many busyCall()s the user-interface thread is inside right now (0: no mail work is under way).
inline int& busyCallDepth() {
    static int depth = 0;
    return depth;
}

template <class F> auto busyCall(F&& work) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    std::optional<R> result;
    std::exception_ptr error;
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    std::thread worker([&] {
        try {
            result.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    ++busyCallDepth();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    --busyCallDepth();
    // Events queued for the loop after it quit are harmless; input that arrived meanwhile is dropped
    // by nothing: it is delivered now, after the work, as it would be after a blocking call.
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

} // namespace korimo
