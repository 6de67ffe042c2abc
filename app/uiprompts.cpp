#include "uiprompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

UiPrompts::UiPrompts(QWidget *parent) : m_parent(parent) {
    onError = [this](const QString &text) {
        QMessageBox::critical(m_parent, QApplication::applicationName(), text);
    };
    onInformation = [this](const QString &text) {
        QMessageBox::information(m_parent, QApplication::applicationName(), text);
    };
    onQuestion = [this](const QString &text, DefaultAnswer preset) {
        return QMessageBox::question(m_parent, QApplication::applicationName(), text,
                                     QMessageBox::Yes | QMessageBox::No,
                                     preset == DefaultAnswer::Yes
                                         ? QMessageBox::Yes
                                         : QMessageBox::No) == QMessageBox::Yes;
    };
    onBeep = [] { QApplication::beep(); };
    onOpenFile = [this](const FileDialogRequest &r) {
        return QFileDialog::getOpenFileName(m_parent, r.caption, QString(), r.filter);
    };
    onSaveFile = [this](const FileDialogRequest &r) {
        QFileDialog dialog(m_parent, r.caption, QString(), r.filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(r.defaultSuffix);
        // The caller asks about replacing a file: only it knows the final name.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog.setOption(QFileDialog::ReadOnly, false);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
}

void UiPrompts::error(const QString &text) const {
    if (onError)
        onError(text);
}

void UiPrompts::information(const QString &text) const {
    if (onInformation)
        onInformation(text);
}

bool UiPrompts::question(const QString &text, DefaultAnswer preset) const {
    return onQuestion && onQuestion(text, preset);
}

void UiPrompts::beep() const {
    if (onBeep)
        onBeep();
}

QString UiPrompts::openFile(const FileDialogRequest &request) const {
    return onOpenFile ? onOpenFile(request) : QString();
}

QString UiPrompts::saveFile(const FileDialogRequest &request) const {
    return onSaveFile ? onSaveFile(request) : QString();
}

bool UiPrompts::guard(const std::function<void()> &step) const {
    try {
        step();
        return true;
    } catch (const std::exception &e) {
        error(QString::fromUtf8(e.what()));
    } catch (...) {
        error(QStringLiteral("Unexpected error"));
    }
    return false;
}
