// The Debian package of this build folder: unpacked into a scratch folder and looked at as
// an installation would lay it out.
//
// cpack on the build folder would first build everything that is out of date (its
// "preinstall" step), which is no job for a test. So the install rules run here through
// cmake --install, which never builds, into a staging folder laid out as cpack lays its own
// (under /usr, stripped), and cpack packs that folder with the project's package settings.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result {
    int code = -1;
    QString out;
};

Result run(const QString &program, const QStringList &arguments, int timeoutMs = 60000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    Result r;
    if (p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit)
        r.code = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAll());
    return r;
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

    QTemporaryDir m_scratch;
    QString m_deb;
    QString m_root;

    QString installed(const QString &path) const { return m_root + QLatin1Char('/') + path; }

private slots:
    void initTestCase() {
        for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is missing (Debian packages dpkg and "
                                                "dpkg-dev): no package is built here")
                                     .arg(QLatin1String(tool))));
        QVERIFY(m_scratch.isValid());
        const QString stage = m_scratch.filePath(QStringLiteral("stage"));
        const Result staged =
            run(QStringLiteral(QM_CMAKE),
                {"--install", QStringLiteral(QM_BUILD_DIR), "--prefix", stage + "/usr", "--strip"});
        QVERIFY2(staged.code == 0, qPrintable(staged.out));
        const QString config = m_scratch.filePath(QStringLiteral("package.cmake"));
        QFile settings(config);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("include(\"%1\")\n"
                                      "set(CPACK_INSTALL_CMAKE_PROJECTS \"\")\n"
                                      "set(CPACK_INSTALLED_DIRECTORIES \"%2;.\")\n")
                           .arg(QStringLiteral(QM_CPACK_CONFIG), stage)
                           .toUtf8());
        settings.close();
        const QString out = m_scratch.filePath(QStringLiteral("out"));
        const Result built =
            run(QStringLiteral(QM_CPACK), {"-G", "DEB", "--config", config, "-B", out});
        QVERIFY2(built.code == 0, qPrintable(built.out));
        const QStringList debs = QDir(out).entryList({QStringLiteral("*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        m_deb = QDir(out).filePath(debs.first());
        m_root = m_scratch.filePath(QStringLiteral("root"));
        const Result unpacked = run(QStringLiteral("dpkg-deb"), {"-x", m_deb, m_root});
        QVERIFY2(unpacked.code == 0, qPrintable(unpacked.out));
    }

    void holdsItsFiles_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        for (const char *program : {"qm-interface", "qm-log", "qm-decode", "qm-meter-sim"})
            QTest::newRow(program)
                << QStringLiteral("usr/bin/%1").arg(QLatin1String(program)) << true;
        QTest::newRow("desktop entry") << "usr/share/applications/qm-interface.desktop" << false;
        QTest::newRow("icon") << "usr/share/icons/hicolor/scalable/apps/qm-interface.svg" << false;
        QTest::newRow("README") << "usr/share/doc/qm-interface/README.md" << false;
    }
    void holdsItsFiles() {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile(), qPrintable(path));
        QVERIFY(file.size() > 0);
        QCOMPARE(file.isExecutable(), executable);
    }

    void control() {
        const Result name = run(QStringLiteral("dpkg-deb"), {"-f", m_deb, "Package"});
        QCOMPARE(name.out.trimmed(), QStringLiteral("qm-interface"));
        const Result depends = run(QStringLiteral("dpkg-deb"), {"-f", m_deb, "Depends"});
        QCOMPARE(depends.code, 0);
        QStringList packages;
        for (const QString &item : depends.out.split(QLatin1Char(',')))
            packages << item.trimmed().section(QLatin1Char(' '), 0, 0);
        // What the programs link, and the SQLite plugin that Qt SQL loads at run time.
        for (const char *needed :
             {"libqt6core6", "libqt6widgets6", "libqt6serialport6", "libqt6sql6",
              "libqt6sql6-sqlite", "libqt6printsupport6", "libqcustomplot2.1-qt6", "libsqlite3-0"})
            QVERIFY2(packages.contains(QLatin1String(needed)),
                     qPrintable(QStringLiteral("%1 not in %2").arg(needed, depends.out)));
    }

    // The menu entry is valid, starts the installed program and shows the installed icon.
    void desktopEntry() {
        const QString entry =
            installed(QStringLiteral("usr/share/applications/qm-interface.desktop"));
        QSettings desktop(entry, QSettings::IniFormat);
        desktop.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(desktop.value(QStringLiteral("Type")).toString(), QStringLiteral("Application"));
        const QString exec = desktop.value(QStringLiteral("Exec")).toString();
        QVERIFY(QFileInfo(installed(QStringLiteral("usr/bin/") + exec)).isExecutable());
        const QString icon = desktop.value(QStringLiteral("Icon")).toString();
        QFile svg(
            installed(QStringLiteral("usr/share/icons/hicolor/scalable/apps/%1.svg").arg(icon)));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        QVERIFY(svg.readAll().contains("<svg"));

        const QString validator =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is missing (Debian package desktop-file-utils)");
        const Result valid = run(validator, {entry});
        QCOMPARE(valid.code, 0);
        QCOMPARE(valid.out, QString());
    }

    void unpackedProgramsStart_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("says");
        QTest::newRow("qm-decode") << "qm-decode"
                                   << "Decodes multimeter frames";
        QTest::newRow("qm-log") << "qm-log"
                                << "Usage: qm-log";
    }
    void unpackedProgramsStart() {
        QFETCH(QString, program);
        QFETCH(QString, says);
        const Result help = run(installed(QStringLiteral("usr/bin/") + program), {"--help"}, 10000);
        QCOMPARE(help.code, 0);
        QVERIFY2(help.out.contains(says), qPrintable(help.out));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
