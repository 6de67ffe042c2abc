#include "keycharfilter.h"

#include <QKeyEvent>

KeyCharFilter::KeyCharFilter(Handler handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler)) {}

bool KeyCharFilter::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    QChar typed;
    if (key->key() == Qt::Key_Backspace)
        typed = u'\b';
    else if (key->text().size() == 1 && key->text().at(0).isPrint() &&
             !(key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        typed = key->text().at(0);
    else
        return false;
    QChar kept = typed;
    m_handler(watched, kept);
    return kept.isNull();
}
