#pragma once

#include <QString>

#include <exception>
#include <functional>

class QWidget;

/// The one place where the program talks to the user through modal boxes, file dialogs and
/// sound: the standard error box, information messages, questions, the open/save dialogs and
/// the alert sound.
///
/// Every handler that may fail reports through error() and returns to the event loop. Tests
/// replace the handlers with recorders, so nothing ever blocks on a modal box.
class UiPrompts {
public:
    struct FileDialogRequest {
        QString caption;
        QString filter;        ///< Qt filter string ("Excel File(*.xls);;All File(*.*)")
        QString defaultSuffix; ///< appended to a name typed without an extension
    };

    /// Which button of a question Return presses.
    enum class DefaultAnswer { No, Yes };

    std::function<void(const QString &text)> onError;
    std::function<void(const QString &text)> onInformation;
    /// A yes/no question; true for yes.
    std::function<bool(const QString &text, DefaultAnswer preset)> onQuestion;
    /// The platform's alert sound.
    std::function<void()> onBeep;
    /// Return the chosen path, or an empty string when the user cancels.
    std::function<QString(const FileDialogRequest &)> onOpenFile;
    std::function<QString(const FileDialogRequest &)> onSaveFile;

    /// Real message boxes and file dialogs, parented to `parent`.
    explicit UiPrompts(QWidget *parent = nullptr);

    void error(const QString &text) const;
    void information(const QString &text) const;
    bool question(const QString &text, DefaultAnswer preset = DefaultAnswer::No) const;
    void beep() const;
    QString openFile(const FileDialogRequest &request) const;
    QString saveFile(const FileDialogRequest &request) const;

    /// Runs `step`; an exception (std::exception carrying UTF-8 text) escaping it is shown in the
    /// error box instead of crossing into Qt's event dispatch. Returns false when `step` failed.
    bool guard(const std::function<void()> &step) const;

private:
    QWidget *m_parent;
};
