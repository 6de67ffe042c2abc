#include "tfcomm.h"

#include "graphchart.h"
#include "keycharfilter.h"
#include "magnifierpicture.h"
#include "recordingrules.h"
#include "windowpictures.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QToolButton>

#include <optional>
#include <stdexcept>

namespace {

constexpr QRect kChartBounds{305, 176, 320, 233};
const QColor kStripColour{253, 233, 225};

QToolButton *makeStripButton(QWidget *chart, const char *name, const QRect &bounds,
                             const QString &hint, std::optional<WindowPictures::Glyph> glyph) {
    auto *button = new QToolButton(chart);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(bounds);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setCursor(Qt::ArrowCursor);
    if (glyph)
        button->setIcon(WindowPictures::glyph(*glyph));
    return button;
}

void tint(QWidget *widget, QPalette::ColorRole role) {
    QPalette pal = widget->palette();
    pal.setColor(role, kStripColour);
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
}

} // namespace

void TFCOMM::buildGraph() {
    Chtshow = new GraphChart(m_client);
    Chtshow->setObjectName(QStringLiteral("Chtshow"));
    Chtshow->setGeometry(kChartBounds);

    // The tool strip inside the chart's top-left corner.
    Bevel1 = new QFrame(Chtshow);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(2, 2, 40, 20);
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setCursor(Qt::ArrowCursor);
    BtFill = new QCheckBox(QStringLiteral("Fill"), Chtshow);
    BtFill->setObjectName(QStringLiteral("BtFill"));
    BtFill->setGeometry(5, 5, 36, 15);
    BtFill->setToolTip(QStringLiteral("Graphic Fill"));
    BtFill->setChecked(true);
    BtFill->setCursor(Qt::ArrowCursor);
    tint(BtFill, QPalette::Window);
    connect(BtFill, &QCheckBox::clicked, this, [this] { BtFillClick(); });

    Maxrecord = new QLineEdit(QString::number(PagingModel::kDesignPageSize), Chtshow);
    Maxrecord->setObjectName(QStringLiteral("Maxrecord"));
    Maxrecord->setGeometry(48, 3, 41, 21);
    Maxrecord->setCursor(Qt::IBeamCursor);
    tint(Maxrecord, QPalette::Base);
    Maxrecord->installEventFilter(new KeyCharFilter(
        [](QObject *, QChar &key) {
            if (!RecordingRules::isIntervalKey(key))
                key = QChar();
        },
        Maxrecord));
    connect(Maxrecord, &QLineEdit::textChanged, this, [this] { MaxrecordExit(); });

    BtNew = makeStripButton(Chtshow, "BtNew", {91, 3, 35, 21}, QStringLiteral("New"),
                            WindowPictures::Glyph::GraphNew);
    BtSave = makeStripButton(Chtshow, "BtSave", {125, 3, 35, 21}, QStringLiteral("Save"),
                             WindowPictures::Glyph::GraphSave);
    BtFirst = makeStripButton(Chtshow, "BtFirst", {163, 3, 25, 21}, QStringLiteral("First"),
                              WindowPictures::Glyph::First);
    BTPrevious = makeStripButton(Chtshow, "BTPrevious", {187, 3, 25, 21},
                                 QStringLiteral("Previous"), WindowPictures::Glyph::Previous);
    Bt10 = makeStripButton(Chtshow, "Bt10", {211, 3, 25, 21}, QStringLiteral("Page No."),
                           std::nullopt);
    Bt10->setText(QStringLiteral("1"));
    QFont pageFont = Bt10->font();
    pageFont.setBold(false);
    Bt10->setFont(pageFont);
    QPalette pagePalette = Bt10->palette();
    pagePalette.setColor(QPalette::ButtonText, Qt::blue);
    Bt10->setPalette(pagePalette);
    BtNext = makeStripButton(Chtshow, "BtNext", {235, 3, 25, 21}, QStringLiteral("Next"),
                             WindowPictures::Glyph::Next);
    BTlast = makeStripButton(Chtshow, "BTlast", {259, 3, 25, 21}, QStringLiteral("last"),
                             WindowPictures::Glyph::Last);
    // Printing the graph is not offered.
    BtPrint = makeStripButton(Chtshow, "BtPrint", {163, 35, 25, 21}, QStringLiteral("Print"),
                              WindowPictures::Glyph::Print);
    BtPrint->setVisible(false);
    BtPrint->setEnabled(false);
    TbFd = MagnifierPicture::makeImage(Chtshow, "TbFd", {288, 3}, QStringLiteral("Graphic Enlarge"),
                                       true);
    TbSx = MagnifierPicture::makeImage(Chtshow, "TbSx", {288, 3}, QStringLiteral("Graphic Restore"),
                                       false);
    TbSx->setVisible(false);

    ComboBox1 = new QComboBox(Chtshow);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(56, 35, 65, 21);
    ComboBox1->addItems({QStringLiteral("atile"), QStringLiteral("btile")});
    ComboBox1->setVisible(false);
    // Only a choice by the user is a change: setting the index from code runs nothing.
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });

    const struct {
        QToolButton *button;
        void (TFCOMM::*handler)();
    } clicks[] = {{BtNew, &TFCOMM::BtNewClick},     {BtSave, &TFCOMM::BtSaveClick},
                  {BtFirst, &TFCOMM::BtFirstClick}, {BTPrevious, &TFCOMM::BTPreviousClick},
                  {BtNext, &TFCOMM::BtNextClick},   {BTlast, &TFCOMM::BTlastClick}};
    for (const auto &c : clicks)
        connect(c.button, &QToolButton::clicked, this, [this, h = c.handler] { (this->*h)(); });

    // The Graphic menu offers the same commands.
    const struct {
        QAction *TFCOMM::*member;
        const char *name;
        void (TFCOMM::*handler)();
    } items[] = {{&TFCOMM::First, "First", &TFCOMM::BtFirstClick},
                 {&TFCOMM::Previous, "Previous", &TFCOMM::BTPreviousClick},
                 {&TFCOMM::Next, "Next", &TFCOMM::BtNextClick},
                 {&TFCOMM::Last, "Last", &TFCOMM::BTlastClick},
                 {nullptr, nullptr, nullptr},
                 {&TFCOMM::New, "New", &TFCOMM::BtNewClick},
                 {&TFCOMM::Save, "Save", &TFCOMM::BtSaveClick},
                 {nullptr, nullptr, nullptr},
                 {&TFCOMM::Fill, "Fill", &TFCOMM::FillClick}};
    for (const auto &item : items) {
        if (!item.member) {
            Graphic1->addSeparator();
            continue;
        }
        QAction *action = Graphic1->addAction(QLatin1String(item.name));
        action->setObjectName(QLatin1String(item.name));
        connect(action, &QAction::triggered, this, [this, h = item.handler] { (this->*h)(); });
        this->*(item.member) = action;
    }
    Fill->setCheckable(true);
    Fill->setChecked(true);
}

QString TFCOMM::defaultGraphPicturePath() {
#ifdef Q_OS_WIN
    return QStringLiteral("c:/databmp.bmp");
#else
    return QDir::home().filePath(QStringLiteral("databmp.bmp"));
#endif
}

QString TFCOMM::defaultGraphPictureFallbackFolder() {
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
#else
    return {};
#endif
}

void TFCOMM::ShowSeries(int Index) {
    for (int i = 0; i < Chtshow->seriesCount(); ++i)
        Chtshow->setSeriesActive(i, false);
    Chtshow->setSeriesActive(Index, true);
}

void TFCOMM::BtFillClick() {
    Fill->setChecked(BtFill->isChecked());
    ShowSeries(BtFill->isChecked() ? 0 : 1);
}

void TFCOMM::FillClick() {
    const bool area = !BtFill->isChecked();
    Fill->setChecked(area);
    BtFill->setChecked(area);
    ShowSeries(area ? 0 : 1);
    // Changing the check box runs its own handler, as a click on it would.
    BtFillClick();
}

void TFCOMM::ComboBox1Change() {
    ShowSeries(ComboBox1->currentIndex());
}

void TFCOMM::BtNewClick() {
    Chtshow->fillSampleValues(1);
    ComboBox1->setCurrentIndex(0);
    ShowSeries(0);
    ShowSeries(BtFill->isChecked() ? 0 : 1);
}

void TFCOMM::runPagingCommand(PagingModel::Command command) {
    const PagingModel::CommandOutcome outcome = Chtshow->runPagingCommand(command);
    if (outcome.firstPreviousEnabled) {
        BtFirst->setEnabled(*outcome.firstPreviousEnabled);
        BTPrevious->setEnabled(*outcome.firstPreviousEnabled);
    }
    if (outcome.nextLastEnabled) {
        BtNext->setEnabled(*outcome.nextLastEnabled);
        BTlast->setEnabled(*outcome.nextLastEnabled);
    }
    Bt10->setText(QString::number(outcome.pageNumber));
    m_followLastPage = outcome.followLastPage;
}

void TFCOMM::BtFirstClick() {
    runPagingCommand(PagingModel::Command::First);
}

void TFCOMM::BTPreviousClick() {
    runPagingCommand(PagingModel::Command::Previous);
}

void TFCOMM::BtNextClick() {
    runPagingCommand(PagingModel::Command::Next);
}

void TFCOMM::BTlastClick() {
    runPagingCommand(PagingModel::Command::Last);
}

void TFCOMM::MaxrecordExit() {
    m_prompts->guard([this] {
        bool ok = false;
        const int size = Maxrecord->text().toInt(&ok, 10);
        if (!ok)
            throw std::runtime_error(QStringLiteral("'%1' is not a valid integer value")
                                         .arg(Maxrecord->text())
                                         .toStdString());
        Chtshow->setPageSize(size);
    });
}

void TFCOMM::BtSaveClick() {
    // Said only once the picture is written: a failed write is never reported as saved.
    QStringList tried{GraphPicturePath};
    bool saved = Chtshow->savePicture(tried.back());
    if (!saved && !GraphPictureFallbackFolder.isEmpty()) {
        tried << QDir(GraphPictureFallbackFolder).filePath(QFileInfo(GraphPicturePath).fileName());
        saved = QDir().mkpath(GraphPictureFallbackFolder) && Chtshow->savePicture(tried.back());
    }
    for (QString &path : tried)
        path = QDir::toNativeSeparators(path);
    if (saved)
        m_prompts->information(QStringLiteral("graphic has saved on %1").arg(tried.back()));
    else // every place tried, so that the user knows where none could be written
        m_prompts->error(
            QStringLiteral("Cannot create file %1").arg(tried.join(QStringLiteral(", nor "))));
}

void TFCOMM::graphAddReading(double value) {
    Chtshow->appendPoint(value);
}

void TFCOMM::graphFollowLastPage() {
    if (!m_followLastPage)
        return;
    Chtshow->setPage(Chtshow->paging().pageCount());
    Bt10->setText(QString::number(Chtshow->paging().page()));
}

void TFCOMM::setGraphValueAxis(double minimum, double maximum) {
    Chtshow->setValueRange(minimum, maximum);
}
