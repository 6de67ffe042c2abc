// The analog scale, the alarm limits with their sign and sound, and the extremes: the parts
// of the window that every display frame moves besides the LCD.
#include "tfcomm.h"

#include "keycharfilter.h"
#include "lcdglyphlabel.h"
#include "recordingrules.h"
#include "scaleview.h"

#include <QCheckBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

namespace {

constexpr QRect kAlarmSignBounds{109, 72, 113, 49};
constexpr int kAlarmSignPixels = 35;

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, const QRect &bounds) {
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(bounds);
    return label;
}

QLabel *makeLcdLabel(QWidget *parent, const char *name, const QString &caption,
                     const QRect &bounds) {
    auto *label = new LcdGlyphLabel(caption, bounds.height(), false, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(bounds);
    return label;
}

} // namespace

void TFCOMM::buildLimitBox() {
    Panel3 = new QFrame(m_client);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setGeometry(3, 188, 298, 50);
    Panel3->setFrameShape(QFrame::Panel);
    Panel3->setFrameShadow(QFrame::Sunken);

    SetMaxB = new QCheckBox(QStringLiteral("SetMax:"), Panel3);
    SetMaxB->setObjectName(QStringLiteral("SetMaxB"));
    SetMaxB->setGeometry(4, 3, 70, 20);
    Setmax = new QLineEdit(QStringLiteral("8000"), Panel3);
    Setmax->setObjectName(QStringLiteral("Setmax"));
    Setmax->setGeometry(76, 3, 60, 20);
    SetMinB = new QCheckBox(QStringLiteral("SetMin: "), Panel3);
    SetMinB->setObjectName(QStringLiteral("SetMinB"));
    SetMinB->setGeometry(4, 26, 70, 20);
    SetMin = new QLineEdit(QStringLiteral("-8000"), Panel3);
    SetMin->setObjectName(QStringLiteral("SetMin"));
    SetMin->setGeometry(76, 26, 60, 20);

    // Titles and units in the LCD glyphs (the unit is an LCD letter code), values in Arial.
    makeLcdLabel(Panel3, "Label12", QStringLiteral("MAX: "), QRect(142, 4, 40, 18));
    MaxText = makeLabel(Panel3, "MaxText", QStringLiteral("-8001"), QRect(184, 4, 70, 18));
    MaxTextU = makeLcdLabel(Panel3, "MaxTextU", QStringLiteral("*"), QRect(256, 4, 38, 18));
    makeLcdLabel(Panel3, "Label11", QStringLiteral("MIN: "), QRect(142, 27, 40, 18));
    MinText = makeLabel(Panel3, "MinText", QStringLiteral("8001"), QRect(184, 27, 70, 18));
    MinTextU = makeLcdLabel(Panel3, "MinTextU", QStringLiteral("*"), QRect(256, 27, 38, 18));
    QFont valueFont(QStringLiteral("Arial"));
    valueFont.setPixelSize(14);
    for (QLabel *value : {MaxText, MinText})
        value->setFont(valueFont);

    connect(Setmax, &QLineEdit::textChanged, this, &TFCOMM::SetmaxExit);
    connect(SetMaxB, &QCheckBox::clicked, this, &TFCOMM::SetmaxExit);
    connect(SetMin, &QLineEdit::textChanged, this, &TFCOMM::SetMinExit);
    connect(SetMinB, &QCheckBox::clicked, this, &TFCOMM::SetMinExit);
    for (QLineEdit *edit : {Setmax, SetMin})
        edit->installEventFilter(new KeyCharFilter(
            [this](QObject *sender, QChar &key) { SetmaxKeyPress(sender, key); }, edit));
}

void TFCOMM::buildScale() {
    KD1 = new ScaleView(KD);

    // The alarm sign: a yellow plate over the scale, shown while readings are out of limits.
    oltext = new QLabel(QStringLiteral("OL !!"), KD);
    oltext->setObjectName(QStringLiteral("oltext"));
    oltext->setGeometry(kAlarmSignBounds);
    oltext->setAlignment(Qt::AlignCenter);
    oltext->setAutoFillBackground(true);
    QPalette yellow = oltext->palette();
    yellow.setColor(QPalette::Window, Qt::yellow);
    yellow.setColor(QPalette::WindowText, Qt::black);
    oltext->setPalette(yellow);
    QFont sign(QStringLiteral("Arial"));
    sign.setBold(true);
    sign.setPixelSize(kAlarmSignPixels);
    oltext->setFont(sign);
    oltext->setVisible(false);
    oltext->raise();
}

void TFCOMM::KDsetup(int) {
    KD1->setMode(m_kdHundredMode, m_kdSpan, m_kdOffset);
    KD1->setBand(MaxLimit(), MinLimit(), SetMaxB->isChecked(), SetMinB->isChecked());
    KD1->setup();
}

void TFCOMM::KDrun(int Position) {
    KD1->run(Position);
}

// A text that is no number is reported and changes nothing: the limit keeps its value and
// the scale is not redrawn. Ticking a box also recomputes its limit from the edit.
void TFCOMM::SetmaxExit() {
    m_prompts->guard([this] {
        m_alarmLimit.setMaxFromText(Setmax->text());
        KDsetup(0);
    });
}

void TFCOMM::SetMinExit() {
    m_prompts->guard([this] {
        m_alarmLimit.setMinFromText(SetMin->text());
        KDsetup(0);
    });
}

void TFCOMM::SetmaxKeyPress(QObject *, QChar &Key) {
    if (!RecordingRules::isLimitKey(Key))
        Key = QChar();
}

// The alarm compares the reading with the numbers typed (the band marks the same numbers);
// a reading at a limit is within it.
void TFCOMM::alarmCheck(const DecodedFrame &frame) {
    if (m_alarmLimit.isOutOfLimits(frame.readingNval, SetMaxB->isChecked(), SetMinB->isChecked())) {
        m_prompts->beep();
        oltext->setVisible(true);
    } else {
        oltext->setVisible(false);
    }
}

void TFCOMM::extremesUpdate(const DecodedFrame &frame) {
    // A new unit, range, AC/DC or digit count starts the extremes and the graph afresh:
    // their counts mean other amounts.
    if (m_extreme.update(frame.readingNval, frame.valueText, frame.unitText, frame.rangeCode,
                         frame.acDcText, frame.fiveDigit))
        BtNewClick();
    showExtremes();
}

void TFCOMM::showExtremes() {
    MaxText->setText(m_extreme.MaxValueText);
    MinText->setText(m_extreme.MinValueText);
    MaxTextU->setText(UnitText());
    MinTextU->setText(UnitText());
}
