// Translations: the language taken from the locale name, the two files looked for in the
// translation folder with one log line each, and their removal at the end.
#include "RunLog.h"
#include "document/Texts.h"
#include "shell/Identity.h"
#include "shell/KsApp.h"
#include "shell/KsTranslations.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using testsupport::runLogLines;

TEST(SystemLanguage, IsTheLocaleNameCutBeforeItsFirstNonLetter)
{
    EXPECT_EQ(KsApp::systemLanguage(QStringLiteral("en_GB")), QStringLiteral("en"));
    EXPECT_EQ(KsApp::systemLanguage(QStringLiteral(" de_DE ")), QStringLiteral("de"));
    EXPECT_EQ(KsApp::systemLanguage(QStringLiteral("C")), QStringLiteral("C"));
    EXPECT_EQ(KsApp::systemLanguage(QStringLiteral("sr@latin")), QStringLiteral("sr"));
    EXPECT_EQ(KsApp::systemLanguage(QStringLiteral("")), QString());
}

class Translations : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "translations-test";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
        m_app = std::make_unique<KsApp>(LaunchStandalone);
    }
    void TearDown() override
    {
        m_app.reset();
        settings().remove(QStringLiteral("TransDir"));
        m_application.reset();
    }

    static QSettings settings() { return QSettings(organizationName(), applicationName()); }
    // The log lines written since the test began.
    QStringList newLines() const { return runLogLines().mid(m_logged); }

    static QString translated() { return ksAppTr("All rights reserved", "[all]Appears in the About box"); }

    std::unique_ptr<QApplication> m_application;
    std::unique_ptr<KsApp> m_app;
    int m_logged = runLogLines().size();
};

TEST_F(Translations, TheFolderIsTheProgramsUnlessSet)
{
    EXPECT_EQ(KsApp::translationDir(), QDir::cleanPath(QCoreApplication::applicationDirPath()));
    settings().setValue(QStringLiteral("TransDir"), QStringLiteral("/somewhere/else"));
    EXPECT_EQ(KsApp::translationDir(), QStringLiteral("/somewhere/else"));
}

TEST_F(Translations, AMissingFileIsLoggedAsFailedAndLeavesTheSourceLanguage)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    settings().setValue(QStringLiteral("TransDir"), empty.path());
    m_logged = runLogLines().size();
    EXPECT_FALSE(m_app->loadTranslations(QStringLiteral("de_DE")));
    const QStringList lines = newLines();
    ASSERT_EQ(lines.size(), 3) << qPrintable(lines.join(QLatin1Char('\n')));
    EXPECT_EQ(lines[0], QStringLiteral("Your active language is [de]"));
    EXPECT_EQ(lines[1], QStringLiteral("Loading Qt translation file %1/qt_de - failed.").arg(empty.path()));
    EXPECT_EQ(lines[2], QStringLiteral("Loading our translation file %1/all_de - failed.").arg(empty.path()));
    EXPECT_EQ(translated(), QStringLiteral("All rights reserved"));
}

TEST_F(Translations, BothFilesInTheFolderTranslateUntilUnloaded)
{
    settings().setValue(QStringLiteral("TransDir"), QStringLiteral(KESTRINE_TEST_TRANSLATIONS));
    m_logged = runLogLines().size();
    EXPECT_TRUE(m_app->loadTranslations(QStringLiteral("de_DE")));
    const QStringList lines = newLines();
    ASSERT_EQ(lines.size(), 3) << qPrintable(lines.join(QLatin1Char('\n')));
    EXPECT_EQ(lines[1], QStringLiteral("Loading Qt translation file " KESTRINE_TEST_TRANSLATIONS "/qt_de - ok."));
    EXPECT_EQ(lines[2], QStringLiteral("Loading our translation file " KESTRINE_TEST_TRANSLATIONS "/all_de - ok."));
    EXPECT_EQ(translated(), QStringLiteral("Alle Rechte vorbehalten"));
    // Each translation names its own help folder.
    EXPECT_TRUE(KsApp::helpUrl().endsWith(QStringLiteral("/Help/de")));
    ASSERT_NE(KsTranslations::instance(), nullptr);
    EXPECT_EQ(KsTranslations::instance()->translatorCount(), 2);

    m_app->unloadTranslations();
    EXPECT_EQ(KsTranslations::instance()->translatorCount(), 0);
    EXPECT_EQ(translated(), QStringLiteral("All rights reserved"));
}

TEST_F(Translations, LoadingALanguageAgainReplacesItsTranslators)
{
    settings().setValue(QStringLiteral("TransDir"), QStringLiteral(KESTRINE_TEST_TRANSLATIONS));
    EXPECT_TRUE(m_app->loadLanguage(QStringLiteral("de")));
    EXPECT_TRUE(m_app->loadLanguage(QStringLiteral("de")));
    EXPECT_EQ(KsTranslations::instance()->translatorCount(), 2);
    EXPECT_EQ(translated(), QStringLiteral("Alle Rechte vorbehalten"));
}

TEST_F(Translations, EnglishLoadsNothing)
{
    settings().setValue(QStringLiteral("TransDir"), QStringLiteral(KESTRINE_TEST_TRANSLATIONS));
    m_logged = runLogLines().size();
    EXPECT_TRUE(m_app->loadTranslations(QStringLiteral("en_US")));
    EXPECT_EQ(newLines(), QStringList{QStringLiteral("Your active language is [en]")});
    EXPECT_EQ(KsTranslations::instance()->translatorCount(), 0);
}

TEST_F(Translations, TheApplicationObjectRemovesItsTranslationsWhenItGoes)
{
    settings().setValue(QStringLiteral("TransDir"), QStringLiteral(KESTRINE_TEST_TRANSLATIONS));
    ASSERT_TRUE(m_app->loadTranslations(QStringLiteral("de_AT")));
    ASSERT_EQ(translated(), QStringLiteral("Alle Rechte vorbehalten"));
    m_app.reset();
    EXPECT_EQ(KsTranslations::instance(), nullptr);
    EXPECT_EQ(translated(), QStringLiteral("All rights reserved"));
}

TEST(ProductTexts, TranslateInTheApplicationContextWithTheProductTag)
{
    EXPECT_EQ(KsApp::trProduct("ks_tutorials.htm"), QStringLiteral("ks_tutorials.htm"));
}

} // namespace
