#pragma once

#include <QChar>
#include <QObject>

#include <functional>

/// Filters the characters typed into an edit box: each typed character goes to the handler,
/// which may clear it to drop it. Keys that type nothing printable (arrows, delete,
/// shortcuts such as paste) pass unfiltered; backspace is offered to the handler.
class KeyCharFilter : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(QObject *sender, QChar &key)>;

    KeyCharFilter(Handler handler, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Handler m_handler;
};
