// The program as a user starts it: on a real (virtual) X display with a photograph, the whole
// window comes up, a screenshot of it is kept, F goes through the three screen modes (a picture
// of each), and Ctrl+Q ends the run cleanly with the version in its log.

#include "Identity.h"

#include "XvfbDisplay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeySequence>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString photoPath = QStringLiteral(KESTRINE_TEST_DATA "/fruits.jpg");

QString logText(const QString& tmp)
{
    QString text;
    QDirIterator logs(tmp, {QStringLiteral("*.txt")}, QDir::Files, QDirIterator::Subdirectories);
    while (logs.hasNext()) {
        QFile file(logs.next());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

// The program's main window: visible, of this process, titled with the product's name.
qulonglong mainWindowOf(const testsupport::XvfbDisplay& display, qint64 pid)
{
    return display.waitForWindow(pid, 30000, QStringLiteral("^Kestrine 3"));
}

} // namespace

TEST(Smoke, ThePhotographOpensInTheWholeWindowAndControlQEndsTheRunCleanly)
{
    int argc = 1;
    char name[] = "smoke-test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    testsupport::XvfbDisplay display;
    ASSERT_TRUE(display.isRunning()) << qPrintable(display.error());
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());

    QProcessEnvironment environment = display.environment();
    // The run's log goes to a folder of its own.
    environment.insert(QStringLiteral("TMPDIR"), tmp.path());
    // The program's update and news checks wait until tomorrow: a run of the whole program
    // asks nothing of the network.
    {
        QSettings settings(QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("OrlenthTech/Kestrine3.conf"),
                           QSettings::IniFormat);
        const quint64 tomorrow = quint64(QDateTime::currentSecsSinceEpoch() + 86400);
        settings.setValue(QStringLiteral("UpdateSupressUntil"), tomorrow);
        settings.setValue(QStringLiteral("NewsSupressUntil"), tomorrow);
    }
    testsupport::ChildProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(KESTRINE_PROGRAM), {photoPath});
    ASSERT_TRUE(program.waitForStarted(10000));

    const qulonglong window = mainWindowOf(display, program.processId());
    EXPECT_NE(window, 0u) << program.readAll().constData();
    if (window != 0) {
        // Let the photograph open and the window settle before the picture is taken.
        QThread::msleep(2000);
        QString title;
        display.xdotool({QStringLiteral("getwindowname"), QString::number(window)}, &title);
        // "Kestrine 3: fruits.jpg (W x H) @ Z%": the photograph is the document.
        EXPECT_TRUE(title.startsWith(QStringLiteral("Kestrine 3: fruits.jpg ("))) << qPrintable(title);
        const QString shot = QStringLiteral(KESTRINE_SMOKE_ARTEFACTS "/smoke.png");
        QDir().mkpath(QFileInfo(shot).path());
        QFile::remove(shot);
        const int imported = QProcess::execute(QStringLiteral("import"),
                                               {QStringLiteral("-display"), display.display(),
                                                QStringLiteral("-window"), QStringLiteral("root"), shot});
        EXPECT_EQ(imported, 0);
        EXPECT_GT(QFileInfo(shot).size(), 0);

        // F goes through the three screen modes and back; each is kept as a picture.
        QString screen;
        display.xdotool({QStringLiteral("getdisplaygeometry")}, &screen);
        for (int mode : {1, 2, 0}) {
            qulonglong current = mainWindowOf(display, program.processId());
            ASSERT_NE(current, 0u);
            EXPECT_TRUE(display.sendKeys(current, QKeySequence(QStringLiteral("F")))) << qPrintable(display.error());
            QThread::msleep(1500);
            current = mainWindowOf(display, program.processId());
            ASSERT_NE(current, 0u);
            const QString modeShot = QStringLiteral(KESTRINE_SMOKE_ARTEFACTS "/smoke-mode%1.png").arg(mode);
            QFile::remove(modeShot);
            EXPECT_EQ(QProcess::execute(QStringLiteral("import"), {QStringLiteral("-display"), display.display(),
                                                                   QStringLiteral("-window"), QStringLiteral("root"),
                                                                   modeShot}),
                      0);
            if (mode == 1) {
                // Without a window manager the frameless window covers the whole screen.
                QString geometry;
                display.xdotool({QStringLiteral("getwindowgeometry"), QString::number(current)}, &geometry);
                const QStringList size = screen.split(QLatin1Char(' '));
                ASSERT_EQ(size.size(), 2) << qPrintable(screen);
                EXPECT_TRUE(geometry.contains(QStringLiteral("Position: 0,0"))) << qPrintable(geometry);
                EXPECT_TRUE(geometry.contains(QStringLiteral("Geometry: %1x%2").arg(size.at(0), size.at(1))))
                    << qPrintable(geometry);
            }
        }
        const qulonglong last = mainWindowOf(display, program.processId());
        EXPECT_TRUE(display.sendKeys(last, QKeySequence(QStringLiteral("Ctrl+Q")))) << qPrintable(display.error());
    }
    if (!program.waitForFinished(30000)) {
        program.kill();
        program.waitForFinished(5000);
        FAIL() << "the program did not end: " << program.readAll().constData();
    }
    const QByteArray output = program.readAll();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << output.constData();
    EXPECT_EQ(program.exitCode(), 0) << output.constData();
    EXPECT_TRUE(logText(tmp.path()).contains(versionLine())) << qPrintable(logText(tmp.path()));
}
