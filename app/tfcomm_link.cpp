// The serial link as the user drives it: port choice, connect and disconnect, the request
// cycle, the link indicator and the remote key panel.
#include "tfcomm.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTimer>

#include "bevelpanel.h"
#include "lcdglyphs.h"
#include "meterlink.h"
#include "metersession.h"
#include "picturelabel.h"
#include "portnames.h"
#include "remotekeys.h"

namespace {

// The link images, 25 x 24, drawn at the screen's resolution each time they are shown.
void paintLinkImage(QPainter &p, bool alive) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(alive ? QColor(0, 200, 60) : QColor(90, 0, 0));
    p.drawEllipse(QRectF(2, 1.5, 21, 21));
    p.setPen(QPen(alive ? Qt::white : QColor(255, 90, 90), 2.5, Qt::SolidLine, Qt::RoundCap));
    if (alive) {
        p.drawLine(QPointF(7.5, 12.5), QPointF(11, 16.5));
        p.drawLine(QPointF(11, 16.5), QPointF(18, 7.5));
    } else {
        p.drawLine(QPointF(8, 7), QPointF(17, 16));
        p.drawLine(QPointF(17, 7), QPointF(8, 16));
    }
    p.restore();
}

QLabel *makeLinkImage(QWidget *parent, const char *name, bool alive) {
    auto *image =
        new PictureLabel([alive](QPainter &p, QSizeF) { paintLinkImage(p, alive); }, parent);
    image->setObjectName(QLatin1String(name));
    image->setGeometry(5, 5, 25, 24);
    return image;
}

// The port panels show their caption in the LCD glyphs, yellow on dark, 19 pixels high.
void paintPortCaption(QPainter &p, const QRect &r, const QString &caption) {
    p.fillRect(r, QColor(0, 40, 40));
    const qreal height = LcdGlyphs::bodyHeight(19);
    const qreal width = std::min<qreal>(LcdGlyphs::textWidth(caption, height), r.width() - 4);
    p.setPen(QColor(255, 255, 0));
    p.setRenderHint(QPainter::Antialiasing);
    LcdGlyphs::drawText(
        p, QPointF(r.left() + (r.width() - width) / 2, r.top() + (r.height() - height) / 2), height,
        caption, r.width() - 4, true);
}

} // namespace

void TFCOMM::buildLinkControls() {
    // Port menu and the four port panels at one place; each panel's click goes to the next
    // port, the last one back to the first.
    auto *portGroup = new QActionGroup(this);
    QAction **items[] = {&COM11, &COM21, &COM31, &COM41};
    BevelPanel **panels[] = {&BtCOM1, &BtCOM2, &BtCOM3, &BtCOM4};
    const char *panelCaptions[] = {"COM /", "COM ,", "COM <", "COM >"};
    for (int i = 0; i < 4; ++i) {
        QAction *item = ComSetup1->addAction(QStringLiteral("COM%1").arg(i + 1));
        item->setObjectName(QStringLiteral("COM%1").arg((i + 1) * 10 + 1));
        item->setCheckable(true);
        item->setChecked(i == 0);
        portGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, i] { choosePort(i); });
        *items[i] = item;

        auto *panel = new BevelPanel(QStringLiteral("BtCOM%1").arg(i + 1),
                                     QString::fromLatin1(panelCaptions[i]), m_client);
        panel->setGeometry(5, 3, 84, 26);
        panel->setVisible(i == 0);
        panel->setCaptionPainter(paintPortCaption);
        panel->setToolTip(PortNames::displayName(static_cast<TComPortNumber>(i)));
        connect(panel, &BevelPanel::clicked, this, [this, i] {
            // While connected the open port stays in use; a click must not pretend otherwise.
            if (!isConnected())
                choosePort((i + 1) % 4);
        });
        *panels[i] = panel;
    }

    START1 = Connect1->addAction(QStringLiteral("START"));
    START1->setObjectName(QStringLiteral("START1"));
    START1->setCheckable(true);
    STOP1 = Connect1->addAction(QStringLiteral("STOP"));
    STOP1->setObjectName(QStringLiteral("STOP1"));
    STOP1->setCheckable(true);
    STOP1->setEnabled(false);
    connect(START1, &QAction::triggered, this, &TFCOMM::BTCon1Click);
    connect(STOP1, &QAction::triggered, this, &TFCOMM::BtDiscon1Click);

    BTCon = new BevelPanel(QStringLiteral("BTCon"), QStringLiteral("Connect"), m_client);
    BTCon->setGeometry(451, 2, 105, 26);
    BtDiscon = new BevelPanel(QStringLiteral("BtDiscon"), QStringLiteral("Disconnect"), m_client);
    BtDiscon->setGeometry(451, 2, 105, 26);
    BtDiscon->setVisible(false);
    connect(BTCon, &BevelPanel::clicked, this, &TFCOMM::BTCon1Click);
    connect(BtDiscon, &BevelPanel::clicked, this, &TFCOMM::BtDiscon1Click);

    CONok = makeLinkImage(KD, "CONok", true);
    CONok->setToolTip(QStringLiteral("Link alive"));
    CONok->setVisible(false);
    CONokN = makeLinkImage(KD, "CONokN", false);

    // Every frame goes to the frame log; damage is logged for what it is.
    connect(m_session, &MeterSession::frameText, this, [this](const QString &hex, FrameKind kind) {
        Memo1->appendPlainText(kind == FrameKind::Noise ? hex + QLatin1String(kNoiseMark) : hex);
    });
    connect(m_session, &MeterSession::displayFrame, this, &TFCOMM::LcdDisplayQM34);
    connect(m_session, &MeterSession::barFrame, this, &TFCOMM::LcdDisplayQM34Mlt);
    connect(m_session, &MeterSession::portLost, this, &TFCOMM::onPortLost);
    connect(m_session, &MeterSession::portStateChanged, this, &TFCOMM::showNoLinkReason);
    showNoLinkReason();

    // Remote keys. Lefts of the visible row as designed; widths fill to the next key.
    const struct {
        BevelPanel *TFCOMM::*member;
        int left, width;
    } keyPlaces[] = {{&TFCOMM::BtRange, 229, 44},  {&TFCOMM::BtHz, 409, 36},
                     {&TFCOMM::BtHold, 275, 33},   {&TFCOMM::BtRel, 379, 28},
                     {&TFCOMM::BtRecord, 171, 56}, {&TFCOMM::BtPeak, 94, 75},
                     {&TFCOMM::BtBuzzer, 94, 75},  {&TFCOMM::BtSel, 310, 67}};
    for (std::size_t i = 0; i < RemoteKeys::kKeys.size(); ++i) {
        const RemoteKeys::Key &key = RemoteKeys::kKeys[i];
        auto *panel =
            new BevelPanel(QString::fromLatin1(key.panel.data(), key.panel.size()),
                           QString::fromLatin1(key.caption.data(), key.caption.size()), m_client);
        panel->setGeometry(keyPlaces[i].left, 3, keyPlaces[i].width, 26);
        if (key.visible) {
            panel->setBevelOuter(BevelPanel::bvLowered);
            panel->setBevelInner(BevelPanel::bvRaised);
        } else {
            panel->setBevelInner(BevelPanel::bvLowered);
            panel->setVisible(false);
        }
        connect(panel, &BevelPanel::pressed, this, [this, panel] { BtSetMouseDown(panel); });
        connect(panel, &BevelPanel::released, this, [this, panel] { BtSetMouseUp(panel); });
        this->*(keyPlaces[i].member) = panel;
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &TFCOMM::Timer1Timer);
    Timer1->start(MeterLink::kTickInterval);

    ConTimer = new QTimer(this);
    ConTimer->setObjectName(QStringLiteral("ConTimer"));
    ConTimer->setTimerType(Qt::PreciseTimer);
    connect(ConTimer, &QTimer::timeout, this, &TFCOMM::ConTimerTimer);
    ConTimer->start(MeterLink::kTickInterval);

    TdownB = new QTimer(this);
    TdownB->setObjectName(QStringLiteral("TdownB"));
    TdownB->setInterval(RemoteKeys::kLongPressMs);
    TdownB->setTimerType(Qt::PreciseTimer);
    connect(TdownB, &QTimer::timeout, this, &TFCOMM::TdownBTimer);
}

void TFCOMM::choosePort(int index) {
    QAction *items[] = {COM11, COM21, COM31, COM41};
    BevelPanel *panels[] = {BtCOM1, BtCOM2, BtCOM3, BtCOM4};
    for (int i = 0; i < 4; ++i)
        items[i]->setChecked(i == index);
    for (int i = 0; i < 4; ++i)
        panels[i]->setVisible(i == index);
    COMM2()->setComPort(static_cast<TComPortNumber>(index));
    showNoLinkReason();
}

void TFCOMM::COM11Click() {
    choosePort(0);
}
void TFCOMM::COM21Click() {
    choosePort(1);
}
void TFCOMM::COM31Click() {
    choosePort(2);
}
void TFCOMM::COM41Click() {
    choosePort(3);
}

bool TFCOMM::isConnected() const {
    return m_connected;
}

void TFCOMM::BTCon1Click() {
    if (isConnected())
        return;
    const bool stopWasChecked = STOP1->isChecked();
    ComSetup1->menuAction()->setEnabled(false);
    START1->setChecked(true);
    START1->setEnabled(false);
    STOP1->setEnabled(true);
    STOP1->setChecked(false);
    if (!m_session->open()) {
        // Showing "connected" on a port that did not open would only hide the fault.
        ComSetup1->menuAction()->setEnabled(true);
        START1->setChecked(false);
        START1->setEnabled(true);
        STOP1->setEnabled(false);
        STOP1->setChecked(stopWasChecked);
        m_prompts->error(QStringLiteral("Cannot open %1 (%2): %3")
                             .arg(PortNames::displayName(COMM2()->ComPort()),
                                  COMM2()->lastOpenPath(), COMM2()->lastOpenError()));
        return;
    }
    m_connected = true;
    BTCon->setVisible(false);
    BtDiscon->setVisible(true);
}

void TFCOMM::BtDiscon1Click() {
    ComSetup1->menuAction()->setEnabled(true);
    START1->setChecked(false);
    START1->setEnabled(true);
    STOP1->setEnabled(false);
    STOP1->setChecked(true);
    // Also ends the reopening of a port that went away.
    m_session->close();
    m_connected = false;
    BTCon->setVisible(true);
    BtDiscon->setVisible(false);
}

void TFCOMM::onPortLost(const QString &) {
    // The device went away under an open port: the driver has closed it and the link tries
    // it again until Disconnect. The window stays "connected"; the indicator shows the loss.
    showLinkAlive(false);
}

qint32 TFCOMM::LinkIdleTicks() const {
    return Link()->idleTicks();
}

qint32 TFCOMM::RelState() const {
    return m_session->relState();
}

qint32 TFCOMM::RequestStep() const {
    return Link()->requestStep();
}

void TFCOMM::showNoLinkReason() {
    CONokN->setToolTip(
        QStringLiteral("No link on %1: %2")
            .arg(PortNames::displayName(COMM2()->ComPort()), Link()->noLinkReason()));
}

void TFCOMM::WriteTo232(quint8 byte) {
    Link()->send(byte);
}

void TFCOMM::Timer1Timer() {
    Link()->requestTick();
}

void TFCOMM::showLinkAlive(bool alive) {
    CONok->setVisible(alive);
    CONokN->setVisible(!alive);
}

void TFCOMM::ConTimerTimer() {
    if (Link()->watchdogTick())
        showLinkAlive(false);
}

void TFCOMM::reportLinkAlive() {
    Link()->reportAlive();
    showLinkAlive(true);
}

void TFCOMM::BtSetMouseDown(QWidget *Sender) {
    const auto key = RemoteKeys::find(Sender->objectName().toStdString());
    if (!key)
        return;
    m_keyCode = key->longCode;
    if (auto *panel = qobject_cast<BevelPanel *>(Sender)) {
        panel->setBevelOuter(BevelPanel::bvRaised);
        panel->setBevelInner(BevelPanel::bvLowered);
    }
    if (Sender == BtRel)
        m_session->stepRelState();
    if (!TdownB->isActive())
        TdownB->start();
}

void TFCOMM::TdownBTimer() {
    TdownB->stop();
}

void TFCOMM::BtSetMouseUp(QWidget *) {
    for (BevelPanel *panel : {BtPeak, BtRecord, BtRange, BtHold, BtSel, BtRel, BtHz}) {
        panel->setBevelOuter(BevelPanel::bvLowered);
        panel->setBevelInner(BevelPanel::bvRaised);
    }
    const bool longPress = !TdownB->isActive();
    TdownB->stop();
    Link()->sendKey(m_keyCode, longPress);
}
