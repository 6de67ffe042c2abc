// The window's layout: the regions that follow the window's size, and the enlarging and
// restoring of the graph and of the scale panel.
#include "tfcomm.h"

#include "bevelpanel.h"
#include "graphchart.h"
#include "magnifierpicture.h"
#include "recordgrid.h"
#include "windowpictures.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace {

constexpr QRect kLcdBackdropBounds{5, 39, 297, 132};
constexpr QRect kScaleBackdropBounds{307, 39, 316, 132};
constexpr int kScaleButtonsTop = 5;
constexpr int kScaleButtonsFromRight = 30;

QLabel *makeBackdrop(QWidget *parent, const char *name, const QRect &bounds,
                     const QPixmap &texture) {
    auto *image = new QLabel(parent);
    image->setObjectName(QLatin1String(name));
    image->setGeometry(bounds);
    image->setPixmap(texture);
    image->setScaledContents(true);
    image->lower();
    return image;
}

} // namespace

void TFCOMM::buildLayout() {
    const QPixmap texture = WindowPictures::texture();
    Image1 = makeBackdrop(m_client, "Image1", kLcdBackdropBounds, texture);
    KD2 = makeBackdrop(m_client, "KD2", kScaleBackdropBounds, texture);

    Button4 = new QPushButton(QStringLiteral("Button4"), m_client);
    Button4->setObjectName(QStringLiteral("Button4"));
    Button4->setVisible(false);

    KdFd = MagnifierPicture::makeImage(KD, "KdFd", {264, kScaleButtonsTop},
                                       QStringLiteral("Enlarge"), true);
    KdSx = MagnifierPicture::makeImage(KD, "KdSx", {288, kScaleButtonsTop},
                                       QStringLiteral("Restore"), false);
    KdFd->setVisible(false);
    KdSx->setVisible(false);

    for (QObject *watched : {static_cast<QObject *>(m_client), static_cast<QObject *>(KD),
                             static_cast<QObject *>(TbFd), static_cast<QObject *>(TbSx),
                             static_cast<QObject *>(KdFd), static_cast<QObject *>(KdSx)})
        watched->installEventFilter(this);
    m_client->setMinimumSize(WindowLayout::kMinimumClient);
}

bool TFCOMM::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Resize) {
        if (watched == m_client)
            FormResize();
        else if (watched == KD)
            KDResize();
        return QMainWindow::eventFilter(watched, event);
    }
    const bool graphImage = watched == TbFd || watched == TbSx;
    const bool scaleImage = watched == KdFd || watched == KdSx;
    const bool press =
        event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if ((!graphImage && !scaleImage) || (!press && !release) ||
        static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
        return QMainWindow::eventFilter(watched, event);
    // A click is a press and a release inside the same image; letting go elsewhere cancels.
    if (press) {
        m_pressedImage = watched;
        return true;
    }
    const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
    const bool click =
        m_pressedImage == watched && static_cast<QWidget *>(watched)->rect().contains(at);
    m_pressedImage = nullptr;
    if (click && graphImage)
        TbFdClick();
    else if (click)
        KdFdClick();
    return true;
}

void TFCOMM::resizeClient(const QSize &client) {
    // The menu bar gets its height for the window's width, as the layout asks it; in
    // Windows' style that is a pixel more than its size hint.
    int menu = MainMenu1->heightForWidth(client.width());
    if (menu < 0)
        menu = MainMenu1->sizeHint().height();
    resize(client.width(), client.height() + menu);
}

QSize TFCOMM::outerSize() const {
    return WindowLayout::outerSize(m_client->size());
}

void TFCOMM::FormResize() {
    const QSize outer = outerSize();
    if (m_graphEnlarged)
        restoreGraph();
    const WindowLayout::Normal n = WindowLayout::normal(outer);
    BtExit->move(n.exitLeft, BtExit->y());
    BTCon->move(n.connectLeft, BTCon->y());
    BtDiscon->move(n.connectLeft, BtDiscon->y());
    DBGrid1->resize(DBGrid1->width(), n.gridHeight);
    Chtshow->resize(n.graphWidth, Chtshow->height());
    KD->resize(n.scaleWidth, KD->height());
    KD2->resize(n.backdropWidth, KD2->height());
    KD->resize(KD->width(), n.scaleHeight);
    KD2->resize(KD2->width(), n.backdropHeight);
    Chtshow->resize(Chtshow->width(), n.graphHeight);
    Chtshow->move(Chtshow->x(), n.graphTop);
    Button4->setText(n.windowWidthText);
}

void TFCOMM::KDResize() {
    const int left = KD->width() - kScaleButtonsFromRight;
    KdFd->move(left, kScaleButtonsTop);
    KdSx->move(left, kScaleButtonsTop);
}

void TFCOMM::TbFdClick() {
    if (m_graphEnlarged) {
        restoreGraph();
        return;
    }
    TbFd->setVisible(false);
    TbSx->setVisible(true);
    GraphNormalBounds = WindowLayout::Bounds::of(Chtshow->geometry());
    Chtshow->setGeometry(WindowLayout::enlarged(outerSize()));
    Chtshow->raise();
    m_graphEnlarged = true;
}

void TFCOMM::restoreGraph() {
    TbSx->setVisible(false);
    TbFd->setVisible(true);
    Chtshow->setGeometry(GraphNormalBounds.rect());
    m_graphEnlarged = false;
}

void TFCOMM::KdFdClick() {
    if (!m_scaleEnlarged) {
        KdFd->setVisible(false);
        KdSx->setVisible(true);
        ScaleNormalBounds = WindowLayout::Bounds::of(KD->geometry());
        KD->setGeometry(WindowLayout::enlarged(outerSize()));
        KD->raise();
        Chtshow->setVisible(false);
        m_scaleEnlarged = true;
    } else {
        KdSx->setVisible(false);
        KdFd->setVisible(true);
        KD->setGeometry(ScaleNormalBounds.rect());
        Chtshow->setVisible(true);
        m_scaleEnlarged = false;
    }
}
