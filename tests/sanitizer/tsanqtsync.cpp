// Makes Qt's cross-thread hand-over visible to ThreadSanitizer, for test runs against
// a Qt that was not built with it (the distribution's).
//
// Qt's mutexes and atomics live in the uninstrumented libQt5Core, so the sanitizer
// does not see that a queued call posted by one thread is taken by another only after
// the post, nor that QThread::wait() returns after the thread's last action; every
// object handed over by a queued signal then shows up as a race in our own code. This
// library, preloaded into the test programs by scripts/tsan, models those hand-overs:
// each signal emission and each event delivery acquires and then releases one
// synchronisation object (a signal also after it has posted its queued calls),
// through Qt's own hooks (signal spy callbacks, the event
// notify callback). Memory shared without a signal or event in between is still
// checked. In processes without the sanitizer (socat started by the tests) it does
// nothing.

#include <QObject>
#include <QtGlobal>

extern "C" void __tsan_acquire(void* address) __attribute__((weak));
extern "C" void __tsan_release(void* address) __attribute__((weak));

// Qt 5.15's hook for observing signal emissions (declared in its private headers).
struct QSignalSpyCallbackSet
{
    using BeginCallback = void (*)(QObject* caller, int index, void** argv);
    using EndCallback = void (*)(QObject* caller, int index);
    BeginCallback signal_begin_callback;
    BeginCallback slot_begin_callback;
    EndCallback signal_end_callback;
    EndCallback slot_end_callback;
};
void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet* callback_set);

namespace {

char handOver;

void handOverPoint()
{
    __tsan_acquire(&handOver);
    __tsan_release(&handOver);
}

void signalBegin(QObject*, int, void**)
{
    handOverPoint();
}

// After the emission: the queued calls it posted (their copied arguments) are complete.
void signalEnd(QObject*, int)
{
    handOverPoint();
}

bool eventNotify(void**)
{
    handOverPoint();
    return false; // deliver the event as usual
}

QSignalSpyCallbackSet callbacks{signalBegin, nullptr, signalEnd, nullptr};

__attribute__((constructor)) void install()
{
    if (!__tsan_acquire || !__tsan_release)
        return;
    qt_register_signal_spy_callbacks(&callbacks);
    QInternal::registerCallback(QInternal::EventNotifyCallback, eventNotify);
}

} // namespace
