// The program as a user starts it: on a real (virtual) X display with a photograph, the whole
// window comes up, a screenshot of it is kept, F goes through the three screen modes (a picture
// of each), and Ctrl+Q ends the run cleanly with the version in its log. Then the same under a
// window manager, as on a desktop, which owns the frames, the stacking and the placement: the
// screen modes and the floating panels as the user sees them there.

#include "shell/Identity.h"

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
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <iterator>
#include <memory>

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

// The program's update and news checks wait until tomorrow: a run of the whole program asks
// nothing of the network.
void postponeNetworkChecks()
{
    QSettings settings(QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("OrlenthTech/Kestrine3.conf"),
                       QSettings::IniFormat);
    const quint64 tomorrow = quint64(QDateTime::currentSecsSinceEpoch() + 86400);
    settings.setValue(QStringLiteral("UpdateSupressUntil"), tomorrow);
    settings.setValue(QStringLiteral("NewsSupressUntil"), tomorrow);
}

QString describe(const QRect& r)
{
    return QStringLiteral("(%1, %2, %3 x %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Polls the condition (which runs X tools, so no event loop is needed) until it holds or the
// time is up.
template <typename Condition>
bool pollUntil(Condition condition, int milliseconds = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QThread::msleep(200);
    }
    return true;
}

const QStringList mainPanels{QStringLiteral("Tools"), QStringLiteral("Navigator"), QStringLiteral("Edge Finding"),
                             QStringLiteral("Edge Blending"), QStringLiteral("Tip")};

// The program with a photograph on a display of its own run by a window manager, its main
// window up and settled in the standard mode (maximised, as a first start has it).
class ProgramUnderWindowManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "smoke-test";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QCoreApplication>(argc, argv);
        m_display = std::make_unique<testsupport::XvfbDisplay>(testsupport::XvfbDisplay::WindowManager::Openbox,
                                                               screenSize());
        ASSERT_TRUE(m_display->isRunning()) << qPrintable(m_display->error());
        ASSERT_TRUE(m_tmp.isValid());
        postponeNetworkChecks();
        ASSERT_NO_FATAL_FAILURE(startProgram());
        ASSERT_TRUE(pollUntil([this] { return isMaximised(); })) << qPrintable(windowReport());
    }

    virtual QSize screenSize() const { return QSize(1600, 1000); }

    // The program with the photograph, until its window shows the photograph. The settings are
    // the test's own: a second start takes up the layout the first one left.
    void startProgram()
    {
        QProcessEnvironment environment = m_display->environment();
        environment.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        m_program.setProcessEnvironment(environment);
        m_program.setProcessChannelMode(QProcess::MergedChannels);
        m_program.start(QStringLiteral(KESTRINE_PROGRAM), {photoPath});
        ASSERT_TRUE(m_program.waitForStarted(10000));
        m_window = m_display->waitForWindow(m_program.processId(), 30000, QStringLiteral("^Kestrine 3: fruits.jpg"));
        ASSERT_NE(m_window, 0u) << m_program.readAll().constData();
    }

    // Ctrl+Q, as a user ends the run; the layout is kept on the way out.
    void quitProgram()
    {
        ASSERT_TRUE(pressKey("Ctrl+Q")) << qPrintable(m_display->error());
        ASSERT_TRUE(m_program.waitForFinished(30000)) << m_program.readAll().constData();
        ASSERT_EQ(m_program.exitCode(), 0) << m_program.readAll().constData();
        m_window = 0;
    }

    void TearDown() override
    {
        if (m_program.state() == QProcess::NotRunning)
            return;
        if (m_window != 0)
            m_display->sendKeys(m_window, QKeySequence(QStringLiteral("Ctrl+Q")));
        if (!m_program.waitForFinished(30000)) {
            m_program.kill();
            m_program.waitForFinished(5000);
        }
    }

    bool pressKey(const char* key) const { return m_display->sendKeys(m_window, QKeySequence(QString::fromLatin1(key))); }

    // Presses a panel's key and waits until the panel shows as a window of that title.
    void openPanel(const char* key, const QString& title) const
    {
        ASSERT_TRUE(pressKey(key)) << qPrintable(m_display->error());
        ASSERT_TRUE(pollUntil([&] { return panels().contains(title); })) << qPrintable(windowReport());
    }

    bool isMaximised() const
    {
        const QStringList states = m_display->windowStates(m_window);
        return states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_VERT"))
               && states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_HORZ"));
    }

    // Full Screen with Menu on screen: the frameless window over the whole screen.
    bool inFullScreenWithMenu() const
    {
        return m_display->frameExtents(m_window).isNull()
               && m_display->windowGeometry(m_window) == QRect(QPoint(0, 0), m_display->screenSize());
    }

    bool inFullScreen() const
    {
        return m_display->windowStates(m_window).contains(QStringLiteral("_NET_WM_STATE_FULLSCREEN"));
    }

    // The frames of the main panels shown as windows, once the manager has framed each (the
    // palette draws its own title and has no frame).
    QMap<QString, QRect> framedPanels(const QStringList& names = mainPanels) const
    {
        QMap<QString, QRect> frames;
        const QMap<QString, qulonglong> shown = panels();
        for (const QString& name : names) {
            const qulonglong panel = shown.value(name);
            const bool framed = name == QStringLiteral("Tools") || !m_display->frameExtents(panel).isNull();
            if (panel != 0 && framed)
                frames.insert(name, m_display->frameGeometry(panel));
        }
        return frames;
    }

    // Empty when no two of the frames overlap; otherwise which two do, and where.
    static QString overlapIn(const QMap<QString, QRect>& frames)
    {
        for (auto a = frames.cbegin(); a != frames.cend(); ++a)
            for (auto b = std::next(a); b != frames.cend(); ++b)
                if (a.value().intersects(b.value()))
                    return a.key() + QStringLiteral(" at ") + describe(a.value()) + QStringLiteral(" covers ") + b.key()
                           + QStringLiteral(" at ") + describe(b.value());
        return QString();
    }

    // The visible windows of the program other than the main one, by title.
    QMap<QString, qulonglong> panels() const
    {
        QMap<QString, qulonglong> byName;
        for (qulonglong window : m_display->visibleWindows(m_program.processId()))
            if (window != m_window)
                byName.insert(m_display->windowName(window), window);
        return byName;
    }

    // Empty when every main panel is a visible window stacked above the main window; otherwise
    // which are not.
    QString stackingFault() const
    {
        const QMap<QString, qulonglong> shown = panels();
        const QList<qulonglong> stacking = m_display->stackingOrder();
        QStringList faults;
        for (const QString& name : mainPanels) {
            const qulonglong panel = shown.value(name);
            if (panel == 0)
                faults << name + QStringLiteral(" is not a visible window");
            else if (stacking.indexOf(panel) < stacking.indexOf(m_window))
                faults << name + QStringLiteral(" is below the main window");
        }
        return faults.join(QStringLiteral("; "));
    }

    // Empty when every main panel floats, visible above the main window and inside the screen;
    // otherwise what is wrong.
    QString panelFault() const
    {
        const QMap<QString, qulonglong> shown = panels();
        const QList<qulonglong> stacking = m_display->stackingOrder();
        const QRect screen(QPoint(0, 0), m_display->screenSize());
        QStringList faults;
        for (const QString& name : mainPanels) {
            const qulonglong panel = shown.value(name);
            if (panel == 0) {
                faults << name + QStringLiteral(" is not a visible window");
                continue;
            }
            if (stacking.indexOf(panel) < stacking.indexOf(m_window))
                faults << name + QStringLiteral(" is below the main window");
            const QRect frame = m_display->frameGeometry(panel);
            if (!screen.contains(frame))
                faults << name + QStringLiteral(" is at ") + describe(frame) + QStringLiteral(", off the screen");
        }
        return faults.join(QStringLiteral("; "));
    }

    // Empty when every visible panel window, frame included, is inside the screen; otherwise
    // which are not, and where. Not empty either until the manager has framed each.
    QString panelsOffScreen() const
    {
        const QRect screen(QPoint(0, 0), m_display->screenSize());
        QStringList faults;
        const QMap<QString, qulonglong> shown = panels();
        for (auto panel = shown.cbegin(); panel != shown.cend(); ++panel) {
            const bool framed = panel.key() == QStringLiteral("Tools") || !m_display->frameExtents(panel.value()).isNull();
            const QRect frame = m_display->frameGeometry(panel.value());
            if (!framed)
                faults << panel.key() + QStringLiteral(" has no frame yet");
            else if (!screen.contains(frame))
                faults << panel.key() + QStringLiteral(" is at ") + describe(frame);
        }
        return faults.join(QStringLiteral("; "));
    }

    QString windowReport() const
    {
        QStringList stacking;
        for (qulonglong window : m_display->stackingOrder())
            stacking << m_display->windowName(window);
        return QStringLiteral("main window at %1, states [%2]; stacking from the bottom: %3")
            .arg(describe(m_display->windowGeometry(m_window)),
                 m_display->windowStates(m_window).join(QStringLiteral(", ")),
                 stacking.join(QStringLiteral(" | ")));
    }

    std::unique_ptr<QCoreApplication> m_application;
    std::unique_ptr<testsupport::XvfbDisplay> m_display;
    QTemporaryDir m_tmp;
    testsupport::ChildProcess m_program;
    qulonglong m_window = 0;
};

// The same on a smaller screen, where the panels' default places have less room.
class ProgramOnASmallScreenUnderWindowManager : public ProgramUnderWindowManager {
protected:
    QSize screenSize() const override { return QSize(1280, 800); }
};

// A screen of 1024 x 768, the lowest the window is made for.
class ProgramOnALowScreenUnderWindowManager : public ProgramUnderWindowManager {
protected:
    QSize screenSize() const override { return QSize(1024, 768); }

    // Empty when the main window with its frame is on the screen; otherwise where it is.
    QString windowOffScreen() const
    {
        const QRect frame = m_display->frameGeometry(m_window);
        if (QRect(QPoint(0, 0), m_display->screenSize()).contains(frame))
            return QString();
        return QStringLiteral("the window's frame is at ") + describe(frame) + QStringLiteral("; ") + windowReport();
    }
};

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
    postponeNetworkChecks();
    testsupport::ChildProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(KESTRINE_PROGRAM), {photoPath});
    ASSERT_TRUE(program.waitForStarted(10000));

    const qulonglong window = mainWindowOf(display, program.processId());
    EXPECT_NE(window, 0u) << program.readAll().constData();
    if (window != 0) {
        // "Kestrine 3: fruits.jpg (W x H) @ Z%": the photograph is the document. A busy machine
        // may take a while to open it.
        QString title;
        const bool opened = pollUntil([&] {
            display.xdotool({QStringLiteral("getwindowname"), QString::number(window)}, &title);
            return title.startsWith(QStringLiteral("Kestrine 3: fruits.jpg ("));
        });
        EXPECT_TRUE(opened) << qPrintable(title);
        // Let the window settle before the picture is taken.
        QThread::msleep(1000);
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

TEST_F(ProgramUnderWindowManager, BothFullScreenModesShowEveryPanelAboveTheWindowAndOnTheScreen)
{
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    // Full Screen with Menu: the frameless window over the whole screen, the panels over it.
    const bool withMenu = pollUntil([&] { return inFullScreenWithMenu() && panelFault().isEmpty(); });
    EXPECT_TRUE(withMenu) << qPrintable(panelFault() + QStringLiteral("; ") + windowReport());

    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    const bool full = pollUntil([&] { return inFullScreen() && panelFault().isEmpty(); });
    EXPECT_TRUE(full) << qPrintable(panelFault() + QStringLiteral("; ") + windowReport());
}

TEST_F(ProgramUnderWindowManager, ThreePressesOfFBringBackTheMaximisedStandardWindow)
{
    const QRect standard = m_display->windowGeometry(m_window);
    // Each press once the mode before it is on screen, as a user sees it.
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    ASSERT_TRUE(pollUntil([&] { return inFullScreenWithMenu(); })) << qPrintable(windowReport());
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    ASSERT_TRUE(pollUntil([&] { return inFullScreen(); })) << qPrintable(windowReport());
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    // Back in the standard mode: maximised where it was, the panels docked again.
    const bool back = pollUntil([&] {
        return isMaximised() && m_display->windowGeometry(m_window) == standard && !panels().contains(QStringLiteral("Tools"))
               && !panels().contains(QStringLiteral("Navigator"));
    });
    EXPECT_TRUE(back) << "standard mode was at " << qPrintable(describe(standard)) << "; " << qPrintable(windowReport());
}

TEST_F(ProgramUnderWindowManager, PatchPropertiesOpensBelowColorWorkspaceNotUnderIt)
{
    ASSERT_NO_FATAL_FAILURE(openPanel("F9", QStringLiteral("Patch Properties")));
    ASSERT_NO_FATAL_FAILURE(openPanel("C", QStringLiteral("Color Workspace")));

    const QRect screen(QPoint(0, 0), m_display->screenSize());
    QRect colours;
    QRect patch;
    // The frames come with the manager's decoration once it has taken the windows in.
    const bool apart = pollUntil([&] {
        const QMap<QString, qulonglong> shown = panels();
        const qulonglong colourWindow = shown.value(QStringLiteral("Color Workspace"));
        const qulonglong patchWindow = shown.value(QStringLiteral("Patch Properties"));
        if (m_display->frameExtents(colourWindow).isNull() || m_display->frameExtents(patchWindow).isNull())
            return false;
        colours = m_display->frameGeometry(colourWindow);
        patch = m_display->frameGeometry(patchWindow);
        // One above the other, at the same left edge, where the program put them.
        return !colours.intersects(patch) && colours.bottom() < patch.top() && colours.left() == patch.left()
               && screen.contains(colours) && screen.contains(patch);
    });
    EXPECT_TRUE(apart) << "Color Workspace at " << qPrintable(describe(colours)) << ", Patch Properties at "
                       << qPrintable(describe(patch));
}

TEST_F(ProgramUnderWindowManager, TheFloatingPanelsOfFullScreenWithMenuCoverNoneOfEachOther)
{
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    // The navigator takes the photograph's shape only afloat: the column is stacked from the
    // sizes the panels end with.
    QMap<QString, QRect> frames;
    QString overlap;
    const bool apart = pollUntil([&] {
        frames = framedPanels();
        if (!inFullScreenWithMenu() || frames.size() != mainPanels.size())
            return false;
        overlap = overlapIn(frames);
        return overlap.isEmpty();
    });
    EXPECT_TRUE(apart) << qPrintable(overlap.isEmpty() ? windowReport() : overlap);
}

TEST_F(ProgramUnderWindowManager, ThePaletteFloatsWhereItFloatedBeforeWhenFullScreenComesAgain)
{
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    QRect first;
    ASSERT_TRUE(pollUntil([&] {
        first = framedPanels().value(QStringLiteral("Tools"));
        return inFullScreenWithMenu() && !first.isNull();
    })) << qPrintable(windowReport());
    // Round the cycle: Full Screen, the docked standard mode, Full Screen with Menu again.
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    ASSERT_TRUE(pollUntil([&] { return inFullScreen(); })) << qPrintable(windowReport());
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    ASSERT_TRUE(pollUntil([&] { return isMaximised() && !panels().contains(QStringLiteral("Tools")); }))
        << qPrintable(windowReport());
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    QRect again;
    const bool same = pollUntil([&] {
        again = framedPanels().value(QStringLiteral("Tools"));
        return inFullScreenWithMenu() && again == first;
    });
    EXPECT_TRUE(same) << "first at " << qPrintable(describe(first)) << ", then at " << qPrintable(describe(again));
}

TEST_F(ProgramUnderWindowManager, AStartInFullScreenWithMenuStacksEveryPanelAboveTheWindow)
{
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());
    ASSERT_TRUE(pollUntil([&] { return inFullScreenWithMenu() && stackingFault().isEmpty(); }))
        << qPrintable(stackingFault() + QStringLiteral("; ") + windowReport());
    ASSERT_NO_FATAL_FAILURE(quitProgram());

    // The same settings: the run starts in the mode the last one ended in.
    ASSERT_NO_FATAL_FAILURE(startProgram());
    const bool above = pollUntil([&] { return inFullScreenWithMenu() && stackingFault().isEmpty(); });
    EXPECT_TRUE(above) << qPrintable(stackingFault() + QStringLiteral("; ") + windowReport());
}

TEST_F(ProgramUnderWindowManager, APaletteTheUserFloatedAndMovedComesBackThereAfterARestart)
{
    // A double click on the docked palette's title, at the left under the tool bar, floats it.
    ASSERT_TRUE(m_display->xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(m_window),
                                    QStringLiteral("20"), QStringLiteral("72"), QStringLiteral("click"),
                                    QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
                                    QStringLiteral("80"), QStringLiteral("1")}))
        << qPrintable(m_display->error());
    qulonglong palette = 0;
    ASSERT_TRUE(pollUntil([&] { return (palette = panels().value(QStringLiteral("Tools"))) != 0; }))
        << qPrintable(windowReport());
    // Dragged by its title to (400, 400).
    const QPoint place(400, 400);
    ASSERT_TRUE(m_display->xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(palette),
                                    QStringLiteral("20"), QStringLiteral("8"), QStringLiteral("mousedown"),
                                    QStringLiteral("1"), QStringLiteral("mousemove_relative"), QStringLiteral("50"),
                                    QStringLiteral("50"), QStringLiteral("sleep"), QStringLiteral("0.2"),
                                    QStringLiteral("mousemove"), QString::number(place.x() + 20),
                                    QString::number(place.y() + 8), QStringLiteral("sleep"), QStringLiteral("0.2"),
                                    QStringLiteral("mouseup"), QStringLiteral("1")}))
        << qPrintable(m_display->error());
    ASSERT_TRUE(pollUntil([&] { return m_display->windowGeometry(palette).topLeft() == place; }))
        << "the palette is at " << qPrintable(describe(m_display->windowGeometry(palette)));
    ASSERT_NO_FATAL_FAILURE(quitProgram());

    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(pollUntil([this] { return isMaximised(); })) << qPrintable(windowReport());
    // Where the user left it, and still there once the start-up's default places are given.
    QRect shown;
    int steady = 0;
    const bool kept = pollUntil([&] {
        shown = m_display->windowGeometry(panels().value(QStringLiteral("Tools")));
        steady = shown.topLeft() == place ? steady + 1 : 0;
        return steady == 10;
    });
    EXPECT_TRUE(kept) << "the palette is at " << qPrintable(describe(shown));
}

TEST_F(ProgramOnASmallScreenUnderWindowManager, PatchPropertiesAndColorWorkspaceCoverNoOtherPanelInFullScreenWithMenu)
{
    ASSERT_NO_FATAL_FAILURE(openPanel("F9", QStringLiteral("Patch Properties")));
    ASSERT_NO_FATAL_FAILURE(openPanel("C", QStringLiteral("Color Workspace")));
    ASSERT_TRUE(pressKey("F")) << qPrintable(m_display->error());

    const QStringList shown =
        mainPanels + QStringList{QStringLiteral("Color Workspace"), QStringLiteral("Patch Properties")};
    QMap<QString, QRect> frames;
    QString overlap;
    const bool apart = pollUntil([&] {
        frames = framedPanels(shown);
        if (!inFullScreenWithMenu() || frames.size() != shown.size())
            return false;
        overlap = overlapIn(frames);
        return overlap.isEmpty() && panelsOffScreen().isEmpty();
    });
    EXPECT_TRUE(apart) << qPrintable(overlap + QStringLiteral("; ") + panelsOffScreen() + QStringLiteral("; ")
                                     + windowReport());
}

TEST_F(ProgramOnASmallScreenUnderWindowManager, PatchPropertiesAndColorWorkspaceOpenInsideTheScreenApart)
{
    ASSERT_NO_FATAL_FAILURE(openPanel("F9", QStringLiteral("Patch Properties")));
    ASSERT_NO_FATAL_FAILURE(openPanel("C", QStringLiteral("Color Workspace")));

    QRect colours;
    QRect patch;
    const bool inside = pollUntil([&] {
        const QMap<QString, qulonglong> shown = panels();
        colours = m_display->frameGeometry(shown.value(QStringLiteral("Color Workspace")));
        patch = m_display->frameGeometry(shown.value(QStringLiteral("Patch Properties")));
        return panelsOffScreen().isEmpty() && !colours.intersects(patch);
    });
    EXPECT_TRUE(inside) << qPrintable(panelsOffScreen()) << "; Color Workspace at " << qPrintable(describe(colours))
                        << ", Patch Properties at " << qPrintable(describe(patch));
}

TEST_F(ProgramOnALowScreenUnderWindowManager, TheWindowWithItsStatusBarIsOnTheScreenMaximisedAndNot)
{
    // Maximised, as a first start has it: the status bar at the bottom of the window is on the
    // screen when the whole window is.
    EXPECT_TRUE(pollUntil([&] { return windowOffScreen().isEmpty(); })) << qPrintable(windowOffScreen());

    // Out of the maximised state: the default place, which cannot be smaller than the window.
    ASSERT_TRUE(m_display->runTool(QStringLiteral("wmctrl"),
                                   {QStringLiteral("-i"), QStringLiteral("-r"), QString::number(m_window),
                                    QStringLiteral("-b"), QStringLiteral("remove,maximized_vert,maximized_horz")}))
        << qPrintable(m_display->error());
    ASSERT_TRUE(pollUntil([&] { return !isMaximised() && !m_display->frameExtents(m_window).isNull(); }))
        << qPrintable(windowReport());
    EXPECT_TRUE(pollUntil([&] { return windowOffScreen().isEmpty(); })) << qPrintable(windowOffScreen());
}
