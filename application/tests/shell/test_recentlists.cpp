// The recent-files and recent-projects lists: at most five canonical paths, newest first,
// stored in the settings and announced on every change, never for a file that is missing.

#include "ScratchFiles.h"
#include "shell/FileHandler.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

using testsupport::scratchPath;

namespace {

// An existing file in the scratch folder; its canonical path is what the lists hold.
QString makeFile(const QString& name)
{
    const QString path = scratchPath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
    return QFileInfo(path).canonicalFilePath();
}

QStringList storedProjects()
{
    return QSettings().value(QStringLiteral("FileHandling/RecentProjects")).toStringList();
}

class RecentLists : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().remove(QStringLiteral("FileHandling"));
        m_handler = std::make_unique<FileHandler>(nullptr);
    }
    void TearDown() override { QDir::setCurrent(m_startFolder); }

    const QString m_startFolder = QDir::currentPath();
    std::unique_ptr<FileHandler> m_handler;
};

TEST_F(RecentLists, SixDistinctFilesKeepTheNewestFiveFirstAndAreStored)
{
    QSignalSpy changes(m_handler.get(), &FileHandler::recentProjectsChanged);
    QStringList files;
    for (int i = 1; i <= 6; ++i) {
        files << makeFile(QStringLiteral("p%1.okrp").arg(i));
        EXPECT_TRUE(m_handler->addRecentProject(files.last()));
    }
    const QStringList expected{files[5], files[4], files[3], files[2], files[1]};
    EXPECT_EQ(m_handler->recentProjects(), expected);
    EXPECT_EQ(storedProjects(), expected);
    ASSERT_EQ(changes.size(), 6);
    EXPECT_EQ(changes.last().at(0).toStringList(), expected);
    // The other list is not touched.
    EXPECT_TRUE(m_handler->recentFiles().isEmpty());
}

TEST_F(RecentLists, TheFirstEntryAgainWritesAndAnnouncesNothing)
{
    const QString a = makeFile(QStringLiteral("a.okrp"));
    const QString b = makeFile(QStringLiteral("b.okrp"));
    m_handler->addRecentProject(a);
    m_handler->addRecentProject(b);
    // Marks the stored value: a write would replace it.
    QSettings().setValue(QStringLiteral("FileHandling/RecentProjects"), QStringList{QStringLiteral("mark")});
    QSignalSpy changes(m_handler.get(), &FileHandler::recentProjectsChanged);
    EXPECT_FALSE(m_handler->addRecentProject(b));
    EXPECT_EQ(changes.size(), 0);
    EXPECT_EQ(storedProjects(), QStringList{QStringLiteral("mark")});
    EXPECT_EQ(m_handler->recentProjects(), (QStringList{b, a}));
}

TEST_F(RecentLists, AnOlderEntryMovesToTheFrontAndTheRestKeepTheirOrder)
{
    QStringList files;
    for (const char* name : {"a", "b", "c", "d"})
        files << makeFile(QLatin1String(name) + QStringLiteral(".okrp"));
    for (const QString& file : files)
        m_handler->addRecentProject(file);
    ASSERT_EQ(m_handler->recentProjects(), (QStringList{files[3], files[2], files[1], files[0]}));
    EXPECT_TRUE(m_handler->addRecentProject(files[2]));
    const QStringList expected{files[2], files[3], files[1], files[0]};
    EXPECT_EQ(m_handler->recentProjects(), expected);
    EXPECT_EQ(storedProjects(), expected);
}

TEST_F(RecentLists, OtherSpellingsOfAnEntryDoNotDuplicateIt)
{
    const QString a = makeFile(QStringLiteral("spell/a.okrp"));
    const QString b = makeFile(QStringLiteral("spell/b.okrp"));
    makeFile(QStringLiteral("spell/sub/c"));
    ASSERT_EQ(symlink(qPrintable(b), qPrintable(scratchPath(QStringLiteral("spell/link.okrp")))), 0);
    m_handler->addRecentProject(a);
    m_handler->addRecentProject(b);

    // Through a parent-folder step.
    EXPECT_TRUE(m_handler->addRecentProject(scratchPath(QStringLiteral("spell/sub/../a.okrp"))));
    EXPECT_EQ(m_handler->recentProjects(), (QStringList{a, b}));
    // Through a symbolic link.
    EXPECT_TRUE(m_handler->addRecentProject(scratchPath(QStringLiteral("spell/link.okrp"))));
    EXPECT_EQ(m_handler->recentProjects(), (QStringList{b, a}));
    // Relative to the current folder.
    ASSERT_TRUE(QDir::setCurrent(scratchPath(QStringLiteral("spell/sub"))));
    EXPECT_TRUE(m_handler->addRecentProject(QStringLiteral("../a.okrp")));
    EXPECT_FALSE(m_handler->addRecentProject(QStringLiteral("../a.okrp")));
    EXPECT_EQ(m_handler->recentProjects(), (QStringList{a, b}));
    EXPECT_EQ(storedProjects(), (QStringList{a, b}));
}

TEST_F(RecentLists, AMissingFileIsRefused)
{
    const QString a = makeFile(QStringLiteral("a.okrp"));
    m_handler->addRecentProject(a);
    QSignalSpy changes(m_handler.get(), &FileHandler::recentProjectsChanged);
    EXPECT_FALSE(m_handler->addRecentProject(scratchPath(QStringLiteral("gone.okrp"))));
    EXPECT_FALSE(m_handler->addRecentProject(QString()));
    EXPECT_EQ(changes.size(), 0);
    EXPECT_EQ(m_handler->recentProjects(), QStringList{a});
    EXPECT_EQ(storedProjects(), QStringList{a});
}

TEST_F(RecentLists, TheListUnderAKeyIsWrittenInTheFileHandlingGroup)
{
    QStringList list;
    const QString a = makeFile(QStringLiteral("a.png"));
    EXPECT_TRUE(FileHandler::addToRecentList(a, list, QStringLiteral("RecentFiles")));
    EXPECT_EQ(list, QStringList{a});
    EXPECT_EQ(QSettings().value(QStringLiteral("FileHandling/RecentFiles")).toStringList(), QStringList{a});
}

TEST(RecentListsStored, AreReadAsStoredWithoutTrimmingOrChecks)
{
    const QStringList files{QStringLiteral("/gone/1.png"), QStringLiteral(" spaced .png"), QStringLiteral("3"),
                            QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7")};
    const QStringList projects{QStringLiteral("/gone/p.okrp"), QStringLiteral("b"), QStringLiteral("c"),
                               QStringLiteral("d"), QStringLiteral("e"), QStringLiteral("f")};
    QSettings settings;
    settings.setValue(QStringLiteral("FileHandling/RecentFiles"), files);
    settings.setValue(QStringLiteral("FileHandling/RecentProjects"), projects);
    settings.sync();
    FileHandler handler(nullptr);
    EXPECT_EQ(handler.recentFiles(), files);
    EXPECT_EQ(handler.recentProjects(), projects);
    EXPECT_EQ(FileHandler::instance(), &handler);

    // The next addition trims the list read.
    const QString a = makeFile(QStringLiteral("new.okrp"));
    EXPECT_TRUE(handler.addRecentProject(a));
    EXPECT_EQ(handler.recentProjects(), (QStringList{a} + projects.mid(0, 4)));
}

} // namespace
