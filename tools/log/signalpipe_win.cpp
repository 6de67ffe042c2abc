#include "signalpipe.h"

#include <QMetaObject>

#include <csignal>
#include <mutex>

#include <windows.h>

namespace {

std::mutex s_lock; // the handler runs on a thread of its own
SignalPipe *s_pipe = nullptr;
unsigned s_caught = 0; // a bit per signal number
HANDLE s_destroyed = nullptr;

int signalOf(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return SIGBREAK;
    default: // the console closed, the user logs off, the system shuts down
        return SIGTERM;
    }
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    return SignalPipeDetail::consoleEvent(event);
}

} // namespace

int SignalPipeDetail::consoleEvent(unsigned long event) {
    const int signal = signalOf(event);
    HANDLE destroyed = nullptr;
    {
        const std::lock_guard<std::mutex> guard(s_lock);
        if (!s_pipe || !(s_caught & (1u << signal)))
            return FALSE;
        QMetaObject::invokeMethod(s_pipe, "received", Qt::QueuedConnection, Q_ARG(int, signal));
        destroyed = s_destroyed;
    }
    // Ctrl+C and Ctrl+Break leave the process running; after any other event Windows ends
    // it when this returns, so that waits for the run to commit and end first.
    if (signal != SIGTERM)
        return TRUE;
    WaitForSingleObject(destroyed, INFINITE);
    return TRUE;
}

SignalPipe::SignalPipe(QObject *parent) : QObject(parent) {}

SignalPipe::~SignalPipe() {
    {
        const std::lock_guard<std::mutex> guard(s_lock);
        if (s_pipe != this)
            return;
        s_pipe = nullptr;
        s_caught = 0;
    }
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    // The handle stays open: a handler that has just read it may still wait on it.
    SetEvent(s_destroyed);
}

bool SignalPipe::install(std::initializer_list<int> numbers) {
    const std::lock_guard<std::mutex> guard(s_lock);
    if (!s_pipe) {
        if (!s_destroyed)
            s_destroyed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!s_destroyed || !SetConsoleCtrlHandler(onConsoleEvent, TRUE))
            return false;
        ResetEvent(s_destroyed);
        s_pipe = this;
    }
    for (int signal : numbers)
        s_caught |= 1u << signal;
    return true;
}
