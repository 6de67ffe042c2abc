// The Win32 serial port (Windows and Wine only). The cases that talk to a meter need a port
// with the meter emulator behind it, named by QM_TEST_METER_PORT (for Wine: a COMn that
// HKLM\Software\Wine\Ports points at the emulator's pseudo-terminal).

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "win32serialport.h"

namespace {

/// Reads until `count` bytes have come or `ms` have passed, polling as the driver does.
QByteArray readFor(Win32SerialPort &port, int count, int ms) {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    char buffer[256];
    while (got.size() < count && clock.elapsed() < ms) {
        const qint64 n = port.read(buffer, sizeof buffer);
        if (n < 0)
            break;
        got.append(buffer, static_cast<qsizetype>(n));
        if (n == 0)
            QTest::qWait(20);
    }
    return got;
}

} // namespace

class TestWin32SerialPort : public QObject {
    Q_OBJECT

private slots:
    void portName_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("opened");
        QTest::newRow("COM1") << QStringLiteral("COM1") << QStringLiteral("\\\\.\\COM1");
        QTest::newRow("two digits, lower case")
            << QStringLiteral("com12") << QStringLiteral("\\\\.\\com12");
        QTest::newRow("already a device path")
            << QStringLiteral("\\\\.\\COM3") << QStringLiteral("\\\\.\\COM3");
        QTest::newRow("not a COM name")
            << QStringLiteral("C:/dev/meter") << QStringLiteral("C:/dev/meter");
        QTest::newRow("COM without number") << QStringLiteral("COM") << QStringLiteral("COM");
    }
    void portName() {
        QFETCH(QString, given);
        QFETCH(QString, opened);
        Win32SerialPort port;
        port.setPortName(given);
        QCOMPARE(port.portName(), opened);
    }

    // What cannot be opened says why, once, and leaves the port closed.
    void openFails_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("error");
        QTest::newRow("no such port")
            << QStringLiteral("COM250") << int(Win32SerialPort::DeviceNotFoundError);
        QTest::newRow("a plain file")
            << QStringLiteral("") << int(Win32SerialPort::UnsupportedOperationError);
    }
    void openFails() {
        QFETCH(QString, name);
        QFETCH(int, error);
        QTemporaryDir dir;
        if (name.isEmpty()) {
            name = QDir::toNativeSeparators(dir.filePath(QStringLiteral("not a port")));
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        Win32SerialPort port;
        QSignalSpy errors(&port, &Win32SerialPort::errorOccurred);
        port.setPortName(name);
        QVERIFY(!port.open(QIODevice::ReadWrite));
        QVERIFY(!port.isOpen());
        QCOMPARE(int(port.error()), error);
        QVERIFY(!port.errorString().isEmpty());
        QCOMPARE(errors.size(), 1);
        port.clearError();
        QCOMPARE(port.error(), Win32SerialPort::NoError);
    }

    void closedPortRefuses() {
        Win32SerialPort port;
        char byte = 0;
        QCOMPARE(port.read(&byte, 1), qint64(-1));
        QCOMPARE(port.error(), Win32SerialPort::NotOpenError);
        QCOMPARE(port.write(&byte, 1), qint64(-1));
        QVERIFY(!port.clear());
        QVERIFY(!port.setDataTerminalReady(true));
        QCOMPARE(port.bytesToWrite(), qint64(0));
    }

    // Against the emulator: a request gets the 11-byte display frame, read without waiting
    // in chunks as it arrives; a purge drops what was not read; DTR is tolerated where the
    // port has no modem lines.
    void talksToMeter() {
        const QString name = qEnvironmentVariable("QM_TEST_METER_PORT");
        if (name.isEmpty())
            QSKIP("QM_TEST_METER_PORT names no port with the meter emulator behind it");
        Win32SerialPort port;
        port.setPortName(name);
        port.setWriteTimeout(1000);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QVERIFY(port.setBaudRate(9600));
        QVERIFY(port.setDataBits(Win32SerialPort::Data8));
        QVERIFY(port.setParity(Win32SerialPort::NoParity));
        QVERIFY(port.setStopBits(Win32SerialPort::OneStop));
        QVERIFY(port.setFlowControl(Win32SerialPort::NoFlowControl));
        port.setDataTerminalReady(true);
        port.clearError();

        char idle[16];
        QCOMPARE(port.read(idle, sizeof idle), qint64(0)); // nothing asked, nothing there

        const char request = char(0x89);
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(port.write(&request, 1), qint64(1));
            const QByteArray frame = readFor(port, 11, 2000);
            QCOMPARE(frame.size(), 11);
            QCOMPARE(frame.back(), '\n');
        }

        QCOMPARE(port.write(&request, 1), qint64(1));
        QTest::qWait(300);
        QVERIFY(port.clear(Win32SerialPort::Input));
        QCOMPARE(readFor(port, 1, 200), QByteArray());
        QCOMPARE(port.error(), Win32SerialPort::NoError);
        port.close();
        QVERIFY(!port.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestWin32SerialPort)
#include "tst_win32serialport.moc"
