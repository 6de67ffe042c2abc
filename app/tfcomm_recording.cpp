#include "tfcomm.h"

#include "lcdtextdelegate.h"

#include <QTableView>

#include "datafilenames.h"
#include "keycharfilter.h"
#include "readingrecorder.h"
#include "recordgrid.h"
#include "recordingrules.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "replacingfile.h"
#include "safefile.h"
#include "tabledbcopier.h"
#include "tabletextexporter.h"
#include "windowpictures.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <iterator>
#include <stdexcept>
#include <type_traits>

namespace {

constexpr int kFileButtonsTop = 243;
constexpr int kFileButtonSize = 22;

/// A failure of the table for lack of space or an I/O error keeps the records not yet saved;
/// the message says so, with the advice for the command that met it.
[[noreturn]] void failWithAdvice(const RecordTable::WriteFailure &failure, const QString &advice) {
    throw std::runtime_error((QString::fromUtf8(failure.what()) + u'\n' + advice).toStdString());
}

QToolButton *makeFileButton(QWidget *parent, const char *name, int left, const QString &hint,
                            WindowPictures::Glyph glyph) {
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, kFileButtonsTop, kFileButtonSize, kFileButtonSize);
    button->setToolTip(hint);
    button->setIcon(WindowPictures::glyph(glyph));
    button->setAutoRaise(true);
    return button;
}

} // namespace

void TFCOMM::buildRecording() {
    TQM10DB = new RecordTable(this);
    TQM10DB->setObjectName(QStringLiteral("TQM10DB"));
    Data1 = new RecordTableModel(TQM10DB, this);
    Data1->setObjectName(QStringLiteral("Data1"));
    // Found while the grid paints or a reading is appended, told once the event is done.
    connect(
        TQM10DB, &RecordTable::detachedAfterFailure, this,
        [this](const QString &text) {
            if (firstTelling(TableNotice::KeptAlone))
                m_prompts->error(
                    QStringLiteral("%1\nThe %2 records not yet saved are kept beside the table, "
                                   "and readings go on being recorded there while its reserved "
                                   "room lasts. Free some space and choose Record, Save.")
                        .arg(text)
                        .arg(TQM10DB->pendingCount()));
        },
        Qt::QueuedConnection);
    connect(
        TQM10DB, &RecordTable::journalFailed, this,
        [this](const QString &text) {
            if (firstTelling(TableNotice::Unsecured))
                m_prompts->error(QStringLiteral("%1\nThe records not yet saved are kept, but a "
                                                "crash or a power cut may lose them. Choose "
                                                "Record, Save to store them.")
                                     .arg(text));
        },
        Qt::QueuedConnection);
    connect(
        TQM10DB, &RecordTable::readFailed, this,
        [this](const QString &text) {
            if (firstTelling(TableNotice::Unreadable))
                m_prompts->error(text + QStringLiteral("\nSome records cannot be shown."));
        },
        Qt::QueuedConnection);

    New1 = Record1->addAction(QStringLiteral("New"));
    New1->setObjectName(QStringLiteral("New1"));
    connect(New1, &QAction::triggered, this, [this] { RecordNewClick(); });
    Save1 = Record1->addAction(QStringLiteral("Save"));
    Save1->setObjectName(QStringLiteral("Save1"));
    connect(Save1, &QAction::triggered, this, [this] { RecordSaveClick(); });
    Record1->addSeparator();

    auto *limits = new QActionGroup(this);
    limits->setExclusive(true);
    QAction **limitActions[] = {&N10001, &N50001, &N100001, &N500001, &N1000001, &limitess};
    const auto &items = RecordingRules::limitItems();
    static_assert(std::size(limitActions) == std::tuple_size_v<std::decay_t<decltype(items)>>);
    for (std::size_t i = 0; i < items.size(); ++i) {
        QAction *item = Record1->addAction(QLatin1String(items[i].caption));
        item->setObjectName(QLatin1String(items[i].objectName));
        item->setCheckable(true);
        item->setData(items[i].limit);
        item->setChecked(items[i].limit == m_recorder.RecordLimit());
        limits->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { chooseRecordLimit(item); });
        *limitActions[i] = item;
    }

    RepeatSet = new QCheckBox(QStringLiteral("Repeat"), m_client);
    RepeatSet->setObjectName(QStringLiteral("RepeatSet"));
    RepeatSet->setToolTip(QStringLiteral("Repeage Record"));
    RepeatSet->setGeometry(3, 242, 60, 17);
    RepeatSet->setChecked(true);

    RecordSI = new QCheckBox(QStringLiteral("Sampling Interval             'S"), m_client);
    RecordSI->setObjectName(QStringLiteral("RecordSI"));
    RecordSI->setGeometry(64, 242, 148, 17);

    // The edit sits in the gap that the check box's caption leaves for it.
    RecordSITime = new QLineEdit(QStringLiteral("10"), m_client);
    RecordSITime->setObjectName(QStringLiteral("RecordSITime"));
    RecordSITime->setGeometry(167, 241, 24, 19);
    RecordSITime->raise();
    RecordSITime->installEventFilter(new KeyCharFilter(
        [this](QObject *sender, QChar &key) { RecordSITimeKeyPress(sender, key); }, RecordSITime));
    connect(RecordSITime, &QLineEdit::textChanged, this, [this] { RecordSITimeChange(); });
    m_lastIntervalText = RecordSITime->text();
    m_recordSIInterval = RecordingRules::intervalFromText(m_lastIntervalText);

    Trecord = new QTimer(this);
    Trecord->setObjectName(QStringLiteral("Trecord"));
    Trecord->setInterval(1000);
    connect(Trecord, &QTimer::timeout, this, [this] { TrecordTimer(); });
    Trecord->start();

    RecordNew = makeFileButton(m_client, "RecordNew", 213, QStringLiteral("Close Data"),
                               WindowPictures::Glyph::ClearRecords);
    connect(RecordNew, &QToolButton::clicked, this, [this] { RecordNewClick(); });
    OpenDataFiles =
        makeFileButton(m_client, "OpenDataFiles", 235, QStringLiteral("Open old data files"),
                       WindowPictures::Glyph::OpenFile);
    connect(OpenDataFiles, &QToolButton::clicked, this, [this] { OpenDataFilesClick(); });
    saveas = makeFileButton(m_client, "saveas", 257, QStringLiteral("Save data files"),
                            WindowPictures::Glyph::SaveFile);
    connect(saveas, &QToolButton::clicked, this, [this] { saveasClick(); });
    // Its print glyph and its command come with the report.
    SpeedButton2 = makeFileButton(m_client, "SpeedButton2", 279, QStringLiteral("Print"),
                                  WindowPictures::Glyph::Print);

    DBGrid1 = new RecordGrid(m_client);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(3, 264, 299, 145);
    DBGrid1->setRecordModel(Data1);
    // The unit and ranging texts are LCD letter codes ("k*" is kilo-ohm): show them so.
    for (int column : {4, 5})
        DBGrid1->view()->setItemDelegateForColumn(column, new LcdTextDelegate(12, DBGrid1));
}

void TFCOMM::openRecordTable() {
    openTable(QDir(m_tableFolder).absoluteFilePath(QLatin1String(kRecordTableFile)), false);
}

void TFCOMM::openTable(const QString &path, bool mustExist) {
    forgetTableNotices();
    TQM10DB->open(
        path, mustExist ? RecordTable::OpenMode::MustExist : RecordTable::OpenMode::CreateIfMissing,
        [this](const LeftRecords &left) { return keepLeftRecords(left); });
    if (const QString setAside = TQM10DB->setAsideNotice(); !setAside.isEmpty())
        m_prompts->error(setAside);
    // Said here, once, rather than by every reading that cannot be stored.
    if (const QString refusal = TQM10DB->recordingRefusal();
        !refusal.isEmpty() && firstTelling(TableNotice::NotRecorded))
        m_prompts->error(
            refusal + QStringLiteral(" Choose Open old data files to record into another table."));
}

bool TFCOMM::keepLeftRecords(const LeftRecords &left) {
    // Readings that come while the user decides are shown, not recorded: they would go in
    // before the records they follow.
    m_settlingLeftRecords = true;
    const bool keep = m_prompts->question(
        QStringLiteral("%1 readings recorded after the last Save were not saved when the program "
                       "ended (from %2 to %3). Keep them as unsaved records?")
            .arg(left.count)
            .arg(RecordValues::storedTime(left.first), RecordValues::storedTime(left.last)),
        UiPrompts::DefaultAnswer::Yes);
    m_settlingLeftRecords = false;
    return keep;
}

bool TFCOMM::firstTelling(TableNotice notice) {
    const auto bit = quint8(notice);
    if (m_toldNotices & bit)
        return false;
    m_toldNotices |= bit;
    return true;
}

void TFCOMM::openStartupTable() {
    try {
        openRecordTable();
    } catch (const std::exception &e) {
        // The readings refused from now on say nothing more.
        firstTelling(TableNotice::NotRecorded);
        m_prompts->error(QStringLiteral("%1\nThe meter's readings are shown, but not recorded "
                                        "until a table is opened with Open old data files.")
                             .arg(QString::fromUtf8(e.what())));
    }
}

bool TFCOMM::closeRecordTable() {
    // Closing a table whose file left its path drops the only copy of its records, saved
    // ones included: the user decides, knowing.
    if (!TQM10DB->isAtItsPath() &&
        !m_prompts->question(
            QStringLiteral("%1\nClosing the table loses its %2 records. Choose No and save them "
                           "with Save data files first. Close it anyway?")
                .arg(movedText())
                .arg(TQM10DB->count())))
        return false;
    TQM10DB->close();
    return true;
}

QString TFCOMM::movedText() const {
    try {
        TQM10DB->requireAtPath();
    } catch (const RecordTable::FileMoved &moved) {
        return QString::fromUtf8(moved.what());
    }
    return QString();
}

void TFCOMM::offerSaveElsewhere(const QString &text) {
    if (m_prompts->question(text + QStringLiteral("\nSave the table with Save data files now?")))
        saveasClick();
}

void TFCOMM::INDataToTable(const DecodedFrame &frame) {
    if (m_settlingLeftRecords)
        return;
    ReadingRecorder::Options options;
    options.repeatFilter = RepeatSet->isChecked();
    options.intervalOn = RecordSI->isChecked();
    options.intervalSeconds = m_recordSIInterval;
    const RecordValues reading = ReadingRecorder::readingOf(frame);
    ReadingRecorder::Outcome outcome = ReadingRecorder::Outcome::Stored;
    // A failure here comes back with every reading: it is said once, until the table changes.
    QString refusal;
    try {
        outcome = m_recorder.offer(options, reading, *TQM10DB, QTime::currentTime());
    } catch (const SafeFile::Refused &refused) {
        refusal = QStringLiteral("%1\nReadings are not recorded until it is taken away.")
                      .arg(QString::fromUtf8(refused.what()));
    } catch (const RecordTable::WriteFailure &failure) {
        refusal = QStringLiteral("%1\nReadings are not recorded until the disk has room again. "
                                 "The %2 records not yet saved are kept: free some space and "
                                 "choose Record, Save.")
                      .arg(QString::fromUtf8(failure.what()))
                      .arg(TQM10DB->pendingCount());
    } catch (const std::exception &e) {
        refusal = QStringLiteral("%1\nReadings are not recorded while the table refuses them.")
                      .arg(QString::fromUtf8(e.what()));
    }
    if (refusal.isEmpty() && outcome == ReadingRecorder::Outcome::NoTable)
        refusal = QStringLiteral("Table is not open: %1; readings are not recorded until a table "
                                 "is opened")
                      .arg(TQM10DB->fileName());
    // (A read-only table was told of when it opened.)
    if (!refusal.isEmpty() && firstTelling(TableNotice::NotRecorded))
        throw std::runtime_error(refusal.toStdString());
}

void TFCOMM::TrecordTimer() {
    m_recorder.tick(RecordSI->isChecked());
}

void TFCOMM::RecordSITimeChange() {
    // The text is checked once, here: a pasted text that is no interval is refused with one
    // message and the box shows the last valid interval again, which recording goes on with.
    m_prompts->guard([this] {
        try {
            m_recordSIInterval = m_recorder.intervalChanged(RecordSITime->text());
            m_lastIntervalText = RecordSITime->text();
        } catch (...) {
            const QSignalBlocker quiet(RecordSITime);
            RecordSITime->setText(m_lastIntervalText);
            throw;
        }
    });
}

void TFCOMM::RecordSITimeKeyPress(QObject *, QChar &Key) {
    if (!RecordingRules::isIntervalKey(Key))
        Key = QChar();
}

// The limit items are radio items: checking one unchecks the others. The count recorded so
// far is kept, so a lower limit stops recording at once and a higher one lets it go on.
void TFCOMM::chooseRecordLimit(QAction *item) {
    m_recorder.setRecordLimit(item->data().toInt());
    item->setChecked(true);
}

void TFCOMM::N10001Click() {
    chooseRecordLimit(N10001);
}

void TFCOMM::N50001Click() {
    chooseRecordLimit(N50001);
}

void TFCOMM::N100001Click() {
    chooseRecordLimit(N100001);
}

void TFCOMM::N500001Click() {
    chooseRecordLimit(N500001);
}

void TFCOMM::N1000001Click() {
    chooseRecordLimit(N1000001);
}

void TFCOMM::limitessClick() {
    chooseRecordLimit(limitess);
}

// Both commands say what they did only once it is done: a clear or a save that failed shows
// its error alone, never a success message before it.
void TFCOMM::RecordNewClick() {
    const bool cleared = m_prompts->guard([this] {
        try {
            if (TQM10DB->count() >= 1)
                TQM10DB->empty();
        } catch (const RecordTable::FileMoved &moved) {
            throw std::runtime_error(
                (QString::fromUtf8(moved.what()) + QStringLiteral("\nNothing was deleted."))
                    .toStdString());
        } catch (const RecordTable::MaybeDone &failure) {
            failWithAdvice(failure, QStringLiteral("The records may be deleted already. Free "
                                                   "some space and choose Record, New again."));
        } catch (const RecordTable::WriteFailure &failure) {
            failWithAdvice(failure, QStringLiteral("Nothing was deleted. Free some space and "
                                                   "choose Record, New again."));
        }
        m_recorder.restartNumbering();
    });
    if (cleared) {
        forgetTableNotices();
        m_prompts->information(QStringLiteral(" Record deleted "));
    }
}

void TFCOMM::RecordSaveClick() {
    QString moved;
    const bool saved = m_prompts->guard([&] {
        try {
            TQM10DB->applyUpdates();
        } catch (const RecordTable::FileMoved &failure) {
            moved = QStringLiteral("%1\nNot saved: %2 records are still pending.")
                        .arg(QString::fromUtf8(failure.what()))
                        .arg(TQM10DB->pendingCount());
        } catch (const RecordTable::MaybeDone &failure) {
            failWithAdvice(failure,
                           QStringLiteral("The %1 records may be in the file already; they stay "
                                          "pending. Free some space and choose Record, Save, "
                                          "which stores each of them once.")
                               .arg(TQM10DB->pendingCount()));
        } catch (const RecordTable::WriteFailure &failure) {
            failWithAdvice(failure, QStringLiteral("Not saved: %1 records are still pending. Free "
                                                   "some space and choose Record, Save again.")
                                        .arg(TQM10DB->pendingCount()));
        }
    });
    if (!moved.isEmpty()) {
        offerSaveElsewhere(moved);
        return;
    }
    if (saved) {
        forgetTableNotices();
        m_prompts->information(QStringLiteral(
            "Record has saved, it will be there when you enter the application next time."));
    }
}

void TFCOMM::OpenDataFilesClick() {
    UiPrompts::FileDialogRequest request;
    request.caption = QStringLiteral("Open old data files");
    request.filter = DataFileNames::openFilter();
    const QString path = m_prompts->openFile(request);
    if (path.isEmpty())
        return;
    // Closing the table drops what it has not saved, the file chosen being this one too (and
    // everything, when its file left its path: that question comes from the closing).
    if (const qint64 pending = TQM10DB->pendingCount();
        pending > 0 && TQM10DB->isAtItsPath() &&
        !m_prompts->question(
            QStringLiteral("%1 records are not saved. Open another table anyway?").arg(pending)))
        return;
    if (!closeRecordTable())
        return;
    m_prompts->guard([&] { openTable(path, true); });
}

void TFCOMM::saveasClick() {
    UiPrompts::FileDialogRequest request;
    request.caption = QStringLiteral("Save data files");
    request.filter = DataFileNames::saveFilter();
    request.defaultSuffix = DataFileNames::defaultExtension();
    QString name = m_prompts->saveFile(request);
    if (name.isEmpty())
        return;
    // The program asks about replacing a file itself: only it knows the final name, after
    // the default extension was added; a dialog that asked about the name as typed would
    // let an existing "name.xls" go without a word.
    name = DataFileNames::withDefaultExtension(name);
    // A pipe, a device or a name too long is refused before the question about replacing it.
    if (!m_prompts->guard([&] { ReplacingFile::checkTarget(name); }))
        return;
    if (const QFileInfo target(name);
        target.exists() && !target.isDir() &&
        !m_prompts->question(
            QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(name)))
        return;
    if (DataFileNames::isTableCopy(name))
        SaveTableToDb(*TQM10DB, name);
    else
        SaveTableToText(*TQM10DB, name);
}

namespace {

/// Runs a Save data files step; a read of the table that met a full disk says what became of
/// the file and of the records.
void copyingTo(const RecordTable &table, const QString &fileName,
               const std::function<void()> &step) {
    try {
        step();
    } catch (const RecordTable::WriteFailure &failure) {
        failWithAdvice(failure, QStringLiteral("Nothing was written to %1. The %2 records not yet "
                                               "saved are kept; choose Save data files again.")
                                    .arg(fileName)
                                    .arg(table.pendingCount()));
    }
}

} // namespace

void TFCOMM::SaveTableToText(RecordTable &Table, const QString &FileName) {
    m_prompts->guard([&] {
        bool written = false;
        copyingTo(Table, FileName, [&] { written = TableTextExporter::write(Table, FileName); });
        // The export walks the table to its end, which leaves the last record current.
        DBGrid1->showLastRecord();
        if (written) {
            forgetTableNotices();
            m_prompts->information(
                QStringLiteral("save table to specified file: %1 Scuss!").arg(FileName));
        } else {
            m_prompts->information(
                QStringLiteral("Could not save table to specified file: %1").arg(FileName));
        }
    });
}

void TFCOMM::SaveTableToDb(RecordTable &Table, const QString &FileName) {
    if (m_prompts->guard(
            [&] { copyingTo(Table, FileName, [&] { TableDbCopier::copy(Table, FileName); }); }))
        forgetTableNotices();
}
