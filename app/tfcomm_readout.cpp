#include "tfcomm.h"

#include "bargraphdecoder.h"
#include "decodedframe.h"
#include "lcdpanel.h"
#include "lcdpicture.h"

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace {
constexpr QPoint kPanelPos{3, 33};
constexpr QRect kBarBounds{12, 176, 289, 12};
constexpr QPoint kBarSignPos{5, 171};
constexpr int kBarSignPixels = 16;
} // namespace

void TFCOMM::buildReadout() {
    Panel1 = new LcdPanel(m_client);
    Panel1->move(kPanelPos);

    PBar2 = new QProgressBar(m_client);
    PBar2->setObjectName(QStringLiteral("PBar2"));
    PBar2->setGeometry(kBarBounds);
    PBar2->setRange(0, BarGraphDecoder::kFullPosition);
    PBar2->setValue(BarGraphDecoder::kFullPosition);
    PBar2->setTextVisible(false);

    MltSN = new QLabel(QStringLiteral("+"), m_client);
    MltSN->setObjectName(QStringLiteral("MltSN"));
    QFont signFont(QStringLiteral("Arial"));
    signFont.setBold(true);
    signFont.setPixelSize(kBarSignPixels);
    MltSN->setFont(signFont);
    MltSN->setAlignment(Qt::AlignCenter);
    // Wide enough for either sign, so the label does not jump when it changes.
    const QFontMetrics fm(signFont);
    const int signWidth =
        std::max(fm.horizontalAdvance(QLatin1Char('+')), fm.horizontalAdvance(QLatin1Char('-')));
    MltSN->setGeometry(QRect(kBarSignPos, QSize(signWidth + 2, fm.height())));
}

void TFCOMM::LcdDisplayQM34(const DecodedFrame &frame) {
    m_dispatch.run(frame, *this);
}

void TFCOMM::linkAlive() {
    reportLinkAlive();
}

void TFCOMM::valueAxis(double minimum, double maximum) {
    setGraphValueAxis(minimum, maximum);
}

void TFCOMM::scaleMode(bool hundredMode, int span, int offset) {
    m_kdHundredMode = hundredMode;
    m_kdSpan = span;
    m_kdOffset = offset;
}

void TFCOMM::scaleSetup() {
    KDsetup(1);
}

void TFCOMM::showOnLcd(const DecodedFrame &frame) {
    const LcdPicture picture = LcdPicture::of(frame);
    Panel1->apply(picture);
    PBar2->setVisible(picture.isShown(QString::fromLatin1(LcdPicture::kBarGraphName)));
}

void TFCOMM::takeReading(const DecodedFrame &frame) {
    m_lastFrame = frame;
}

QString TFCOMM::ValueText() const {
    return m_lastFrame ? m_lastFrame->valueText : QString();
}

float TFCOMM::ReadingNval() const {
    return m_lastFrame ? m_lastFrame->readingNval : 0.0f;
}

QString TFCOMM::AcDcText() const {
    return m_lastFrame ? m_lastFrame->acDcText : QString();
}

QString TFCOMM::UnitText() const {
    return m_lastFrame ? m_lastFrame->unitText : QString();
}

QString TFCOMM::AutoText() const {
    return m_lastFrame ? m_lastFrame->autoText : QString();
}

qint32 TFCOMM::RangeCode() const {
    return m_lastFrame ? m_lastFrame->rangeCode : 0;
}

qint32 TFCOMM::NeedlePosition() const {
    // The needle rests at the right end until the first reading.
    return m_lastFrame ? m_lastFrame->needlePosition : 400;
}

void TFCOMM::needle(int position) {
    KDrun(position);
}

void TFCOMM::record(const DecodedFrame &frame) {
    INDataToTable(frame);
}

void TFCOMM::graphPoint(double value) {
    graphAddReading(value);
}

void TFCOMM::lastPage() {
    graphFollowLastPage();
}

void TFCOMM::scaleFault(std::exception_ptr fault) {
    m_prompts->guard([&] { std::rethrow_exception(fault); });
}

void TFCOMM::LcdDisplayQM34Mlt(const QString &barText) {
    reportLinkAlive();
    const BarGraphDecoder::Bar bar = BarGraphDecoder::decode(barText);
    MltSN->setText(bar.sign);
    // A progress bar ignores values past its maximum; a longer bar shows full.
    PBar2->setValue(std::min(bar.position, PBar2->maximum()));
}
