#pragma once

#include <QDir>
#include <QLabel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

#include "decodedframe.h"
#include "tfcomm.h"
#include "uiprompts.h"
#include "windowcontrols.h"

/// A display frame's Reading as the decoder leaves it, the frame's other fields at their
/// defaults: what the window's recording step is given.
inline DecodedFrame readingFrame(const QString &value, float nval = 0.0f,
                                 const QString &dcAc = QString(), const QString &unit = QString(),
                                 const QString &autoText = QString()) {
    DecodedFrame frame;
    frame.valueText = value;
    frame.readingNval = nval;
    frame.acDcText = dcAc;
    frame.unitText = unit;
    frame.autoText = autoText;
    return frame;
}

/// A main window for window-level tests: its record table in a folder of its own, with every
/// message box and file dialog answered by a recorder and the application exit replaced by a
/// counter, so nothing blocks and nothing ends the test process.
class WindowHarness {
public:
    struct Setup {
        ModelFlags flags{ModelFlag::QM30};
        bool show = false;
        /// The record table's folder; empty: a fresh scratch folder that lives as long as the
        /// harness.
        QString folder;
        /// Answers the yes/no questions, those of the start-up too; unset: `answer`.
        std::function<bool(const QString &question)> answerFor;
    };

    WindowHarness() : WindowHarness(Setup{}) {}
    explicit WindowHarness(const Setup &setup) {
        answerFor = setup.answerFor;
        if (setup.folder.isEmpty())
            m_scratch.emplace();
        m_folder = m_scratch ? m_scratch->path() : setup.folder;
        prompts.onError = [this](const QString &t) { errors << t; };
        prompts.onInformation = [this](const QString &t) { infos << t; };
        prompts.onBeep = [this] { ++beeps; };
        prompts.onQuestion = [this](const QString &t, UiPrompts::DefaultAnswer preset) {
            questions << t;
            questionDefaults << preset;
            return answerFor ? answerFor(t) : answer;
        };
        prompts.onOpenFile = [this](const UiPrompts::FileDialogRequest &r) {
            dialogs << r;
            return nextFile;
        };
        prompts.onSaveFile = prompts.onOpenFile;
        w = std::make_unique<TFCOMM>(setup.flags, &prompts, m_folder);
        w->setTerminateHook([this] { ++terminated; });
        if (setup.show)
            w->show();
    }
    ~WindowHarness() { w.reset(); }
    WindowHarness(const WindowHarness &) = delete;
    WindowHarness &operator=(const WindowHarness &) = delete;

    QString folder() const { return m_folder; }
    QString path(const QString &name) const { return QDir(m_folder).filePath(name); }

    /// The text of the label `name`, or a marker that fails any comparison when it is missing.
    QString caption(const char *name) const {
        auto *label = w->findChild<QLabel *>(QLatin1String(name));
        return label ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
    }
    bool shown(const char *name) const {
        auto *e = w->findChild<QWidget *>(QLatin1String(name));
        return e && e->isVisible();
    }
    bool linkAlive() const {
        return control<QLabel>(*w, "CONok")->isVisible() &&
               !control<QLabel>(*w, "CONokN")->isVisible();
    }

    UiPrompts prompts;
    QStringList errors;
    QStringList infos;
    QStringList questions;
    QList<UiPrompts::DefaultAnswer> questionDefaults;
    /// What every yes/no question answers, unless answerFor is set and answers it.
    bool answer = false;
    std::function<bool(const QString &question)> answerFor;
    /// What every open or save dialog answers; empty: the user cancels.
    QString nextFile;
    QList<UiPrompts::FileDialogRequest> dialogs;
    int terminated = 0;
    int beeps = 0;
    std::unique_ptr<TFCOMM> w;

private:
    std::optional<QTemporaryDir> m_scratch;
    QString m_folder;
};
