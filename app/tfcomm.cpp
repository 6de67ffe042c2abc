#include "tfcomm.h"

#include "graphchart.h"
#include "metersession.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <stdexcept>

namespace {
const QColor kWindowColour{170, 255, 213};
} // namespace

TFCOMM::TFCOMM(ModelFlags flags, UiPrompts *prompts, const QString &tableFolder, QWidget *parent)
    : QMainWindow(parent), m_flags(flags),
      m_tableFolder(tableFolder.isEmpty() ? QDir::currentPath() : tableFolder) {
    setObjectName(QStringLiteral("FCOMM"));
    if (prompts) {
        m_prompts = prompts;
    } else {
        m_ownPrompts = std::make_unique<UiPrompts>(this);
        m_prompts = m_ownPrompts.get();
    }
    onTerminate = [] { QApplication::quit(); };

    // The serial component takes its own defaults, then the designed port and speed.
    m_session = new MeterSession(this);
    m_session->setObjectName(QStringLiteral("MeterSession"));
    COMM2()->setObjectName(QStringLiteral("COMM2"));
    COMM2()->setComPort(pnCOM1);
    COMM2()->setComPortSpeed(br2400);
    Link()->setObjectName(QStringLiteral("Link"));

    buildWindow();
    buildMenus();
    buildLimitBox();
    buildScale();
    buildLinkControls();
    buildReadout();
    buildRecording();
    buildGraph();
    buildReport();
    buildLayout();
    resizeClient(WindowLayout::kDesignClient);

    FormCreate();
}

TFCOMM::~TFCOMM() {
    // Handlers must not run into a half-destroyed window.
    disconnect(COMM2(), &CommPortDriver::OnReceiveData, this, nullptr);
    disconnect(m_session, nullptr, this, nullptr);
    m_session->close();
}

void TFCOMM::buildWindow() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    QPalette pal = m_client->palette();
    pal.setColor(QPalette::Window, kWindowColour);
    m_client->setPalette(pal);
    m_client->setAutoFillBackground(true);
    QFont font;
    font.setFamilies(WindowLayout::faces());
    font.setPixelSize(11);
    font.setBold(true);
    m_client->setFont(font);
    setCentralWidget(m_client);

    BtExit = new QPushButton(QStringLiteral("Exit"), m_client);
    BtExit->setObjectName(QStringLiteral("BtExit"));
    BtExit->setGeometry(557, 2, 65, 26);
    connect(BtExit, &QPushButton::clicked, this, &TFCOMM::BtExit1Click);

    // The frame log: never shown, bounded so that a run of days cannot grow it without end.
    Memo1 = new QPlainTextEdit(m_client);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setVisible(false);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setMaximumBlockCount(kMemoMaxLines);
    Memo1->setPlainText(QStringLiteral("Memo1"));

    // The model flags: hidden, fixed when the program is built.
    const struct {
        QCheckBox *TFCOMM::*member;
        const char *name;
        ModelFlag flag;
    } flagBoxes[] = {{&TFCOMM::IFQM30, "IFQM30", ModelFlag::QM30},
                     {&TFCOMM::IFQM40, "IFQM40", ModelFlag::QM40},
                     {&TFCOMM::IFQM45, "IFQM45", ModelFlag::QM45},
                     {&TFCOMM::IFQM20, "IFQM20", ModelFlag::QM20},
                     {&TFCOMM::IFQM10, "IFQM10", ModelFlag::QM10}};
    for (const auto &f : flagBoxes) {
        auto *box = new QCheckBox(QString::fromLatin1(f.name + 2), m_client);
        box->setObjectName(QLatin1String(f.name));
        box->setChecked(m_flags.testFlag(f.flag));
        box->setVisible(false);
        this->*(f.member) = box;
    }

    // The scale panel; the link images sit in its corner.
    KD = new QFrame(m_client);
    KD->setObjectName(QStringLiteral("KD"));
    KD->setGeometry(303, 32, 318, 137);
    KD->setFrameShape(QFrame::Panel);
    KD->setFrameShadow(QFrame::Sunken);
    QPalette black = KD->palette();
    black.setColor(QPalette::Window, Qt::black);
    KD->setPalette(black);
    KD->setAutoFillBackground(true);
}

void TFCOMM::buildMenus() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    ComSetup1 = MainMenu1->addMenu(QStringLiteral("ComSetup"));
    ComSetup1->setObjectName(QStringLiteral("ComSetup1"));
    Connect1 = MainMenu1->addMenu(QStringLiteral("Connect"));
    Connect1->setObjectName(QStringLiteral("Connect1"));
    Graphic1 = MainMenu1->addMenu(QStringLiteral("Graphic"));
    Graphic1->setObjectName(QStringLiteral("Graphic1"));
    Record1 = MainMenu1->addMenu(QStringLiteral("Record"));
    Record1->setObjectName(QStringLiteral("Record1"));
    Exit1 = MainMenu1->addMenu(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    EXIT1 = Exit1->addAction(QStringLiteral("Exit"));
    EXIT1->setObjectName(QStringLiteral("EXIT1"));
    connect(EXIT1, &QAction::triggered, this, &TFCOMM::BtExit1Click);
}

void TFCOMM::FormCreate() {
    // An error anywhere here is shown once; the steps after it are skipped and the window
    // still opens, as an unprofiled window. A record table that cannot be opened is not
    // such an error: a window without its profile would look connected and show no reading,
    // so the meter is shown all the same and only recording waits for a table.
    m_prompts->guard([this] {
        m_kdHundredMode = false;
        m_kdSpan = 80;
        m_kdOffset = 0;
        m_alarmLimit = AlarmLimits();
        m_extreme = Extremes();
        openStartupTable();
        // The needle rests at the right end until the first reading.
        KDsetup(1);
        KDrun(m_kdSpan * 10);
        m_followLastPage = true;
        // The two series share their points, so one sample point serves both.
        Chtshow->fillSampleValues(1);
        ComboBox1->setCurrentIndex(0);
        ShowSeries(0);
        applyModelProfile();
    });
    m_formCreateDone = true;
}

void TFCOMM::applyModelProfile() {
    if (const auto line = lineSettingsFor(m_flags))
        m_session->setLineSettings(*line);
    for (const ModelProfileRow &row : profileRowsFor(m_flags)) {
        setWindowTitle(row.title);
        connect(COMM2(), &CommPortDriver::OnReceiveData, this, &TFCOMM::QM34RData,
                Qt::UniqueConnection);
        if (auto *ac = findChild<QLabel *>(QStringLiteral("LcdAC")))
            ac->setText(row.lcdAcCaption);
        if (auto *d0 = findChild<QLabel *>(QStringLiteral("LCDD0")); d0 && row.lcdD0Caption)
            d0->setText(*row.lcdD0Caption);
        if (auto *da = findChild<QLabel *>(QStringLiteral("LcdDa")); da && row.lcdDaCaption)
            da->setText(*row.lcdDaCaption);
        // Writing a different text is a change of the edit and sets the limit from it.
        if (Setmax->text() != row.setmaxText)
            Setmax->setText(row.setmaxText);
        if (SetMin->text() != row.setminText)
            SetMin->setText(row.setminText);
    }
}

void TFCOMM::BtExit1Click() {
    if (!closeRecordTable())
        return;
    if (onTerminate)
        onTerminate();
}

void TFCOMM::closeEvent(QCloseEvent *event) {
    if (!closeRecordTable()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TFCOMM::QM34RData(CommPortDriver *, const char *DataPtr, int DataSize) {
    m_prompts->guard([&] { m_session->receive(DataPtr, DataSize); });
}

void TFCOMM::setReceiveClock(std::function<std::chrono::steady_clock::time_point()> clock) {
    m_session->setReceiveClock(std::move(clock));
}

CommPortDriver *TFCOMM::COMM2() const {
    return &m_session->driver();
}

MeterLink *TFCOMM::Link() const {
    return &m_session->link();
}

QString TFCOMM::FrameHex() const {
    return m_session->lastFrameText();
}

QString TFCOMM::MltText() const {
    return m_session->lastBarText();
}
