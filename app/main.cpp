#include <QApplication>
#include <QScreen>

#include "tfcomm.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    TFCOMM window;
    // Centred on the screen, as designed.
    if (const QScreen *screen = window.screen()) {
        const QRect area = screen->availableGeometry();
        window.move(area.center() - window.rect().center());
    }
    window.show();
    return app.exec();
}
