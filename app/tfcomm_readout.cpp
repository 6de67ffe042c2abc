#include "tfcomm.h"

#include "bargraphdecoder.h"
#include "decodedframe.h"
#include "graphpoint.h"
#include "lcdpanel.h"
#include "lcdpicture.h"
#include "readingdecoder.h"

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <exception>

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

void TFCOMM::LcdDisplayQM34() {
    reportLinkAlive();

    // Digits, flags, Reading, scale settings and needle in one pass; nothing of it
    // depends on the frames before.
    const auto frame =
        std::make_shared<const DecodedFrame>(ReadingDecoder::decode(FrameHex, RelState));
    LastDisplayFrame = frame;

    // The graph's value axis is set here (it reads the span of the previous frame).
    KDHundredMode = frame->hundredMode;
    KDSpan = frame->span;
    KDOffset = frame->offset;
    // The analog scale is set up here for the new settings.

    const LcdPicture picture = LcdPicture::of(*frame);
    Panel1->apply(picture);
    PBar2->setVisible(picture.isShown(QString::fromLatin1(LcdPicture::kBarGraphName)));
    AcDcText = frame->acDcText;
    AutoText = frame->autoText;
    UnitText = frame->unitText;
    RangeCode = frame->rangeCode;

    ValueText = frame->valueText;
    ReadingNval = frame->readingNval;
    NeedlePosition = frame->needlePosition;
    // The needle is moved, then the alarm check and the extremes run, here.

    // The graph gets every reading, whether or not recording stored it, and even when
    // recording failed; that failure is still reported, once, by the caller's guard.
    std::exception_ptr recordingFault;
    try {
        INDataToTable();
    } catch (...) {
        recordingFault = std::current_exception();
    }
    graphAddReading(GraphPoint::valueOf(*frame));
    graphFollowLastPage();
    if (recordingFault)
        std::rethrow_exception(recordingFault);
}

void TFCOMM::LcdDisplayQM34Mlt() {
    reportLinkAlive();
    const BarGraphDecoder::Bar bar = BarGraphDecoder::decode(MltText);
    MltSN->setText(bar.sign);
    // A progress bar ignores values past its maximum; a longer bar shows full.
    PBar2->setValue(std::min(bar.position, PBar2->maximum()));
}
