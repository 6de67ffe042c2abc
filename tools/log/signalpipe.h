#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

/// Turns the requests to stop into a Qt signal on the event loop, so stopping runs as
/// ordinary code. One instance per process.
///
/// POSIX (signalpipe.cpp): SIGINT, SIGTERM, SIGHUP. The handler only writes the signal's
/// number into a socket pair (the one thing a handler may safely do); the loop reads it and
/// emits received().
///
/// Windows (signalpipe_win.cpp): the console's Ctrl+C (as SIGINT), Ctrl+Break (SIGBREAK)
/// and closing the console window, logging off or shutting down (SIGTERM), through
/// SetConsoleCtrlHandler. Windows ends the process as soon as the handler of a close
/// returns, so that handler waits until this object is destroyed, which the program does
/// once its run has committed and ended. The handler stays registered to the end of the
/// process (see signalpipe_win.cpp).
class SignalPipe : public QObject {
    Q_OBJECT

public:
    explicit SignalPipe(QObject *parent = nullptr);
    ~SignalPipe() override;

    /// Catches the signals `numbers` from now on; false (with errno set on POSIX) when that
    /// failed.
    bool install(std::initializer_list<int> numbers);

signals:
    void received(int signal);

#ifndef Q_OS_WIN
private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
#endif
};

#ifdef Q_OS_WIN
namespace SignalPipeDetail {
/// The console control handler itself (a CTRL_*_EVENT in, TRUE when handled), for tests:
/// Windows calls it on a thread of its own.
int consoleEvent(unsigned long event);
} // namespace SignalPipeDetail
#endif
