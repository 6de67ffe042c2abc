#pragma once

#include <QMainWindow>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "alarmlimits.h"
#include "commportdriver.h"
#include "decodedframe.h"
#include "extremes.h"
#include "leftrecords.h"
#include "modelprofile.h"
#include "pagingmodel.h"
#include "readingdispatch.h"
#include "readingrecorder.h"
#include "uiprompts.h"
#include "windowlayout.h"

class DataReport;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QAction;
class BevelPanel;
class MeterLink;
class MeterSession;
class GraphChart;
class LcdPanel;
class QProgressBar;
class QToolButton;
class RecordGrid;
class RecordTable;
class RecordTableModel;
class ScaleView;
class QPlainTextEdit;
class QPushButton;
class QTimer;

/// The main window. It owns every component for the whole run and keeps the handler names
/// the meter's users know from the design; each handler is a few lines that call the class
/// that owns the work (driver, framing, decoder, recording...). Its state is private; tests
/// read it through the accessors below and find the controls by their objectName, which is
/// their design name.
///
/// Each display frame runs through ReadingDispatch, which calls the window's steps in their
/// fixed order; the window implements those steps with the parts it owns.
class TFCOMM : public QMainWindow, private ReadingDispatch::Steps {
    Q_OBJECT

public:
    /// `tableFolder`: where the record table is kept; empty: the working folder at start.
    explicit TFCOMM(ModelFlags flags = builtModelFlags(), UiPrompts *prompts = nullptr,
                    const QString &tableFolder = QString(), QWidget *parent = nullptr);
    ~TFCOMM() override;

    UiPrompts &prompts() { return *m_prompts; }
    ModelFlags modelFlags() const { return m_flags; }

    /// Replaces what the Exit commands do to end the application, so tests can exit a window
    /// without ending the test process.
    void setTerminateHook(std::function<void()> hook) { onTerminate = std::move(hook); }

    /// The serial component and the link, the meter session's.
    CommPortDriver *COMM2() const;
    MeterLink *Link() const;

    // ---- window-wide state, read-only; FormCreate gives it its start values ----
    /// The scale's mode, as the last display frame set it.
    bool KDHundredMode() const { return m_kdHundredMode; }
    qint32 KDSpan() const { return m_kdSpan; }
    qint32 KDOffset() const { return m_kdOffset; }
    /// The alarm limits as the band of the scale marks them: half the numbers typed. The
    /// typed numbers themselves, which the alarm compares readings with, are in AlarmLimit.
    float MaxLimit() const { return m_alarmLimit.maxLimit(); }
    float MinLimit() const { return m_alarmLimit.minLimit(); }
    const AlarmLimits &AlarmLimit() const { return m_alarmLimit; }
    /// MaxExtreme, MinExtreme, their texts, LastUnitText and LastRangeCode.
    const Extremes &Extreme() const { return m_extreme; }
    /// The graph turns to its last page with each reading (the paging commands clear it).
    bool FollowLastPage() const { return m_followLastPage; }

    // The texts of the last frame routed and of the last secondary frame's bar digits.
    QString FrameHex() const;
    QString MltText() const;

    // The Reading of the last display frame; empty (0) before the first.
    QString ValueText() const;
    float ReadingNval() const;
    QString AcDcText() const;
    QString UnitText() const;
    QString AutoText() const;
    qint32 RangeCode() const;

    // Link: the shared link's counts.
    qint32 LinkIdleTicks() const;
    qint32 RequestStep() const;

    // Remote keys.
    /// The code of the key pressed last.
    quint8 KeyCode() const { return m_keyCode; }
    /// Where the REL key's cycle stands (0 off), as the key presses moved it.
    qint32 RelState() const;

    // Recording: the counters are the recorder's.
    qint32 RecordNo() const { return m_recorder.RecordNo(); }
    qint32 RecordLimit() const { return m_recorder.RecordLimit(); }
    qint32 RecordedCount() const { return m_recorder.RecordedCount(); }
    qint32 SampleCountdown() const { return m_recorder.SampleCountdown(); }
    const QString &LastRecordKey() const { return m_recorder.LastRecordKey(); }
    /// The sampling interval in seconds, as last typed validly into RecordSITime (set from
    /// its start text when the box is made).
    qint32 RecordSIInterval() const { return m_recordSIInterval; }

    // ---- start-up and exit ----
    void FormCreate();
    void BtExit1Click();

    // ---- receive framing ----
    void QM34RData(CommPortDriver *Sender, const char *DataPtr, int DataSize);
    /// When a delivery of bytes came, as the framing's carry window counts it. Replaceable
    /// so tests can play the line's rhythm in simulated time; the steady clock by default.
    void setReceiveClock(std::function<std::chrono::steady_clock::time_point()> clock);
    /// Lines kept in the hidden frame log; older lines are dropped.
    static constexpr int kMemoMaxLines = 1000;
    /// Follows the hex of line damage in the frame log: a frame of the wrong length, the
    /// head of a cut frame, junk before a frame.
    static constexpr const char *kNoiseMark = " line noise";

    // ---- analog scale, alarm limits and extremes ----
    /// Starts the scale's picture for the current mode and limits, without a needle. The
    /// argument is 1 from start-up and the frames, 0 from the limit edits; it changes nothing.
    void KDsetup(int Kind);
    /// Shows the needle at `Position` (400 is the centre).
    void KDrun(int Position);
    /// The limit edits' and check boxes' handlers: the limit from its edit, then the scale.
    void SetmaxExit();
    void SetMinExit();
    /// Key filter of both limit edits: typed characters other than digits, signs and
    /// backspace are dropped (cleared); control keys and shortcuts are not typed characters.
    void SetmaxKeyPress(QObject *Sender, QChar &Key);

    // ---- link: port choice, connect, request cycle, watchdog ----
    void COM11Click();
    void COM21Click();
    void COM31Click();
    void COM41Click();
    void BTCon1Click();
    void BtDiscon1Click();
    void WriteTo232(quint8 byte);
    void Timer1Timer();
    void ConTimerTimer();
    /// A frame came: the link is alive (the session marked it so) and the indicator shows it.
    /// Both frame handlers make it at the start of each frame.
    void reportLinkAlive();

    // ---- remote keys ----
    void BtSetMouseDown(QWidget *Sender);
    void BtSetMouseUp(QWidget *Sender);
    void TdownBTimer();

    // ---- readout ----
    /// The session's display frames, run through the dispatch.
    void LcdDisplayQM34(const DecodedFrame &frame);
    /// The session's secondary frames: the bar's five hex digits.
    void LcdDisplayQM34Mlt(const QString &barText);

    // ---- recording and data files ----
    /// Offers the Reading of `frame` to recording.
    void INDataToTable(const DecodedFrame &frame);
    void TrecordTimer();
    void RecordSITimeChange();
    void N10001Click();
    void N50001Click();
    void N100001Click();
    void N500001Click();
    void N1000001Click();
    void limitessClick();
    void RecordNewClick();
    void RecordSaveClick();
    void OpenDataFilesClick();
    void saveasClick();

    // ---- layout: resizing, enlarging and restoring ----
    void FormResize();
    void KDResize();
    void TbFdClick();
    void KdFdClick();
    /// The graph's and the scale panel's bounds saved when they were enlarged.
    const WindowLayout::Bounds &graphNormalBounds() const { return GraphNormalBounds; }
    const WindowLayout::Bounds &scaleNormalBounds() const { return ScaleNormalBounds; }
    /// The window's outer size as the layout counts it: the client area and the design's
    /// frame.
    QSize outerSize() const;
    /// Sizes the window so that its client area below the menu is `client`.
    void resizeClient(const QSize &client);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void buildMenus();
    void buildLimitBox();
    void applyModelProfile();
    void choosePort(int index);
    void onPortLost(const QString &reason);
    /// The no-link image's hint: why there is no link.
    void showNoLinkReason();
    void showLinkAlive(bool alive);
    /// Connect opened the port, until Disconnect (a port lost meanwhile is tried again).
    bool isConnected() const;
    void buildScale();
    void buildLayout();
    void restoreGraph();
    void showExtremes();

    // The steps of a display frame, in the order ReadingDispatch calls them.
    void linkAlive() override;
    void valueAxis(double minimum, double maximum) override;
    void scaleMode(bool hundredMode, int span, int offset) override;
    void scaleSetup() override;
    void showOnLcd(const DecodedFrame &frame) override;
    void takeReading(const DecodedFrame &frame) override;
    void needle(int position) override;
    void alarmCheck(const DecodedFrame &frame) override;
    void extremesUpdate(const DecodedFrame &frame) override;
    void record(const DecodedFrame &frame) override;
    void graphPoint(double value) override;
    void lastPage() override;
    void scaleFault(std::exception_ptr fault) override;

    // Parts of the window built in their own files.
    void buildLinkControls();
    void buildReadout();
    void buildRecording();
    void openRecordTable();
    /// Opens `path` as the record table (made when missing unless `mustExist`) and says once
    /// when readings cannot be recorded into it.
    void openTable(const QString &path, bool mustExist);
    /// Opens the record table at start-up; when it cannot be opened, says why once (that is
    /// the one message recording gives until a table is opened) and lets start-up go on.
    void openStartupTable();
    /// Asks whether to keep the readings a run left unsaved (Yes is the default).
    bool keepLeftRecords(const LeftRecords &left);
    /// Closes the record table; false, leaving it open, when its file left its path and the
    /// user chose not to lose its records.
    bool closeRecordTable();
    /// Why the table's file is not at its path; empty when it is.
    QString movedText() const;
    /// Tells `text` and offers to save the whole table elsewhere at once.
    void offerSaveElsewhere(const QString &text);
    /// The Record menu's limit items are radio items; `item` carries its limit.
    void chooseRecordLimit(QAction *item);

    ModelFlags m_flags;
    std::unique_ptr<UiPrompts> m_ownPrompts;
    UiPrompts *m_prompts = nullptr;
    QWidget *m_client = nullptr;
    /// Port driver, link, framing, REL state and line settings, as the logger has them too.
    MeterSession *m_session = nullptr;
    ReadingDispatch m_dispatch;
    ReadingRecorder m_recorder;
    std::optional<DecodedFrame> m_lastFrame;
    bool m_kdHundredMode = false;
    qint32 m_kdSpan = 0;
    qint32 m_kdOffset = 0;
    AlarmLimits m_alarmLimit;
    Extremes m_extreme;
    bool m_followLastPage = false;
    quint8 m_keyCode = 0;
    qint32 m_recordSIInterval = 0;
    /// The interval box's last valid text, shown again when a text is refused.
    QString m_lastIntervalText;
    bool m_formCreateDone = false;
    bool m_connected = false;
    /// The graph covers the window (TbFdClick), until restored.
    bool m_graphEnlarged = false;
    /// The scale panel covers the window (KdFdClick), until restored.
    bool m_scaleEnlarged = false;
    /// Where the record table is: the working folder at start unless the window was given one.
    QString m_tableFolder;
    /// The magnifier image a left press went down on, until the release.
    QObject *m_pressedImage = nullptr;

    /// Asks the application to end (the Exit commands).
    std::function<void()> onTerminate;
    WindowLayout::Bounds GraphNormalBounds;
    WindowLayout::Bounds ScaleNormalBounds;
    QLabel *Image1 = nullptr;
    QLabel *KD2 = nullptr;
    QLabel *KdFd = nullptr;
    QLabel *KdSx = nullptr;
    QPushButton *Button4 = nullptr;

    // ---- controls, by their design names, which are their objectNames ----
    QMenuBar *MainMenu1 = nullptr;
    QMenu *ComSetup1 = nullptr;
    QMenu *Connect1 = nullptr;
    QMenu *Graphic1 = nullptr;
    QMenu *Record1 = nullptr;
    QMenu *Exit1 = nullptr;
    QAction *EXIT1 = nullptr;
    QPushButton *BtExit = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QCheckBox *IFQM30 = nullptr;
    QCheckBox *IFQM40 = nullptr;
    QCheckBox *IFQM45 = nullptr;
    QCheckBox *IFQM20 = nullptr;
    QCheckBox *IFQM10 = nullptr;
    QFrame *Panel3 = nullptr;
    QLineEdit *Setmax = nullptr;
    QLineEdit *SetMin = nullptr;
    QCheckBox *SetMaxB = nullptr;
    QCheckBox *SetMinB = nullptr;
    /// The scale panel, its drawing surface and the alarm sign over it.
    QFrame *KD = nullptr;
    ScaleView *KD1 = nullptr;
    QLabel *oltext = nullptr;
    /// The MIN/MAX box's value and unit labels.
    QLabel *MaxText = nullptr;
    QLabel *MinText = nullptr;
    QLabel *MaxTextU = nullptr;
    QLabel *MinTextU = nullptr;

    // link controls
    QAction *COM11 = nullptr;
    QAction *COM21 = nullptr;
    QAction *COM31 = nullptr;
    QAction *COM41 = nullptr;
    QAction *START1 = nullptr;
    QAction *STOP1 = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *ConTimer = nullptr;
    QTimer *TdownB = nullptr;
    BevelPanel *BtCOM1 = nullptr;
    BevelPanel *BtCOM2 = nullptr;
    BevelPanel *BtCOM3 = nullptr;
    BevelPanel *BtCOM4 = nullptr;
    BevelPanel *BTCon = nullptr;
    BevelPanel *BtDiscon = nullptr;
    QLabel *CONok = nullptr;
    QLabel *CONokN = nullptr;
    BevelPanel *BtRange = nullptr;
    BevelPanel *BtHz = nullptr;
    BevelPanel *BtHold = nullptr;
    BevelPanel *BtRel = nullptr;
    BevelPanel *BtRecord = nullptr;
    BevelPanel *BtPeak = nullptr;
    BevelPanel *BtBuzzer = nullptr;
    BevelPanel *BtSel = nullptr;

    // ---- readout members (LCD panel, decoder) ----
    /// The imitation LCD, and beneath it the bar graph and the bar's sign.
    LcdPanel *Panel1 = nullptr;
    QProgressBar *PBar2 = nullptr;
    QLabel *MltSN = nullptr;

public:
    /// Needle position of the last display frame (400 stands for zero), for the scale.
    qint32 NeedlePosition() const;
    /// The last display frame as decoded (digits, points, flags, Reading); empty before
    /// the first.
    const std::optional<DecodedFrame> &LastDisplayFrame() const { return m_lastFrame; }

    // ---- recording members (table, grid, recording controls) ----
    /// The record table, and its model for the grid.
    RecordTable *recordTable() const { return TQM10DB; }
    RecordTableModel *recordModel() const { return Data1; }

private:
    /// The record table, its model for the grid, and the grid.
    RecordTable *TQM10DB = nullptr;
    RecordTableModel *Data1 = nullptr;
    RecordGrid *DBGrid1 = nullptr;
    QCheckBox *RepeatSet = nullptr;
    QCheckBox *RecordSI = nullptr;
    QLineEdit *RecordSITime = nullptr;
    QTimer *Trecord = nullptr;
    QAction *New1 = nullptr;
    QAction *Save1 = nullptr;
    QAction *N10001 = nullptr;
    QAction *N50001 = nullptr;
    QAction *N100001 = nullptr;
    QAction *N500001 = nullptr;
    QAction *N1000001 = nullptr;
    QAction *limitess = nullptr;
    QToolButton *RecordNew = nullptr;
    QToolButton *OpenDataFiles = nullptr;
    QToolButton *saveas = nullptr;
    QToolButton *SpeedButton2 = nullptr;

public:
    /// File name of the record table in its folder.
    static constexpr const char *kRecordTableFile = "Qm20db.db";
    /// Key filter of the interval box: clears `Key` unless it is a digit or backspace.
    void RecordSITimeKeyPress(QObject *Sender, QChar &Key);
    /// Writes `Table` as tab-separated text and says how it went.
    void SaveTableToText(RecordTable &Table, const QString &FileName);
    /// Writes a keyed table copy of `Table` (pending records included).
    void SaveTableToDb(RecordTable &Table, const QString &FileName);

    // ---- report: the printed list of records ----
    /// Builds the report of the table as it is now and shows its preview (SpeedButton2,
    /// SpeedButton1 and the graph's BtPrint).
    void BtPrintClick();
    /// Replaces what shows a built report (by default the preview window, returning when
    /// the user is done with it), so tests can look at the report without blocking.
    void setPreviewHook(std::function<void(DataReport &)> hook) {
        onPreviewReport = std::move(hook);
    }

    // ---- graph: the chart, its tool strip and menu, paging, the picture ----
    void ShowSeries(int Index);
    void BtNewClick();
    void BtFillClick();
    void FillClick();
    void ComboBox1Change();
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void MaxrecordExit();
    void BtSaveClick();
    /// A reading's point: one value, appended to both series.
    void graphAddReading(double value);
    /// While FollowLastPage is set, turns the graph to its last page and shows its number.
    void graphFollowLastPage();
    /// The range of the value axis, set for each display frame.
    void setGraphValueAxis(double minimum, double maximum);
    /// Where the picture of the graph is saved: c:\databmp.bmp on Windows, databmp.bmp in
    /// the home folder elsewhere.
    static QString defaultGraphPicturePath();
    /// Where the picture goes, under the same file name, when GraphPicturePath cannot be
    /// created: on Windows the user's Pictures folder, since a standard user may not create
    /// files in C:\ (Windows since Vista); empty (no second try) elsewhere.
    static QString defaultGraphPictureFallbackFolder();
    /// Where BtSaveClick saves the picture, and its second try (empty: none).
    void setGraphPicturePaths(const QString &path, const QString &fallbackFolder) {
        GraphPicturePath = path;
        GraphPictureFallbackFolder = fallbackFolder;
    }
    const QString &graphPicturePath() const { return GraphPicturePath; }
    const QString &graphPictureFallbackFolder() const { return GraphPictureFallbackFolder; }

private:
    QString GraphPicturePath = defaultGraphPicturePath();
    QString GraphPictureFallbackFolder = defaultGraphPictureFallbackFolder();
    /// Shows a built report and returns when the user is done with it.
    std::function<void(DataReport &)> onPreviewReport;
    /// The print button of the hidden panel; never shown.
    QToolButton *SpeedButton1 = nullptr;
    GraphChart *Chtshow = nullptr;
    QFrame *Bevel1 = nullptr;
    QCheckBox *BtFill = nullptr;
    QLineEdit *Maxrecord = nullptr;
    QToolButton *BtNew = nullptr;
    QToolButton *BtSave = nullptr;
    QToolButton *BtFirst = nullptr;
    QToolButton *BTPrevious = nullptr;
    QToolButton *Bt10 = nullptr;
    QToolButton *BtNext = nullptr;
    QToolButton *BTlast = nullptr;
    QToolButton *BtPrint = nullptr;
    QLabel *TbFd = nullptr;
    QLabel *TbSx = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QAction *First = nullptr;
    QAction *Previous = nullptr;
    QAction *Next = nullptr;
    QAction *Last = nullptr;
    QAction *New = nullptr;
    QAction *Save = nullptr;
    QAction *Fill = nullptr;

    void buildReport();
    void buildGraph();
    void runPagingCommand(PagingModel::Command command);

    /// Failures of the record table that would repeat with every reading or repaint; each
    /// kind is told once, until the table changes (open, Clear, Save, Save as).
    enum class TableNotice : quint8 {
        NotRecorded = 1, ///< readings are not recorded (no table, read-only, refused)
        KeptAlone = 2,   ///< the records not yet saved are kept in the spool alone
        Unreadable = 4,  ///< the grid could not read rows
        Unsecured = 8,   ///< the records not yet saved could not be secured on the disk
    };
    /// True the first time `notice` is due since the table last changed.
    bool firstTelling(TableNotice notice);
    /// The table changed: every notice may be told again.
    void forgetTableNotices() { m_toldNotices = 0; }
    quint8 m_toldNotices = 0;
    /// The user decides whether to keep the readings a run left unsaved.
    bool m_settlingLeftRecords = false;
};
