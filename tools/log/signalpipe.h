#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

/// Turns signals (SIGINT, SIGTERM, SIGHUP) into a Qt signal on the event loop. The handler
/// only writes the signal's number into a socket pair (the one thing a handler may safely
/// do); the loop reads it and emits received(), so stopping runs as ordinary code. One
/// instance per process.
class SignalPipe : public QObject {
    Q_OBJECT

public:
    explicit SignalPipe(QObject *parent = nullptr);
    ~SignalPipe() override;

    /// Catches the signals `numbers` from now on; false (with errno set) when that failed.
    bool install(std::initializer_list<int> numbers);

signals:
    void received(int signal);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
