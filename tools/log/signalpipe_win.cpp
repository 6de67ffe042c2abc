#include "signalpipe.h"

#include <QMetaObject>

#include <csignal>
#include <mutex>

#include <windows.h>

namespace {

std::mutex s_lock; // the handler runs on a thread of its own
SignalPipe *s_pipe = nullptr;
unsigned s_caught = 0; // a bit per signal number
// Set when the pipe is destroyed. One per pipe, never closed: a handler that has just read
// it may still wait on it.
HANDLE s_destroyed = nullptr;
// The handler stays registered until the process ends. Removing it would take the lock the
// console's dispatcher holds while it runs the handler, and the handler of a close waits
// for the pipe's destruction: neither would ever go on.
bool s_registered = false;

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
    HANDLE destroyed = nullptr;
    {
        const std::lock_guard<std::mutex> guard(s_lock);
        if (s_pipe != this)
            return;
        s_pipe = nullptr;
        s_caught = 0;
        destroyed = s_destroyed;
    }
    // From now on the handler leaves every event to Windows; one that waits for the run to
    // end goes on, and Windows ends the process once it returns.
    SetEvent(destroyed);
}

bool SignalPipe::install(std::initializer_list<int> numbers) {
    const std::lock_guard<std::mutex> guard(s_lock);
    if (!s_pipe) {
        if (!s_registered && !SetConsoleCtrlHandler(onConsoleEvent, TRUE))
            return false;
        s_registered = true;
        const HANDLE destroyed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!destroyed)
            return false;
        s_destroyed = destroyed;
        s_pipe = this;
    }
    for (int signal : numbers)
        s_caught |= 1u << signal;
    return true;
}
