// The distributor customisation: what a reseller's file switches, and how a faulty file is
// refused as a whole with its errors in the log.
#include "RunLog.h"
#include "shell/DistributorRecord.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using testsupport::runLogLines;

const char* const validFile = R"(<?xml version="1.0" encoding="UTF-8"?>
<Distributor id="acme">
  <HomePage enabled="1"/>
  <LatestNews enabled="1"/>
  <CheckForUpdates enabled="0"/>
  <AboutBoxText>Sold by &lt;i&gt;Acme&lt;/i&gt;</AboutBoxText>
  <Email support="help@acme.example"/>
</Distributor>
)";

class Distributor : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "distributor-test";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QApplication>(argc, argv);
        ASSERT_TRUE(m_folder.isValid());
    }
    void TearDown() override
    {
        setDistributorFolder(QString());
        m_application.reset();
    }

    QString path(const QString& name) const { return m_folder.filePath(name); }
    void writeXml(const QByteArray& content) const
    {
        QFile file(path(QStringLiteral("distributor.xml")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    void writeLogo(int width) const
    {
        QImage logo(width, 20, QImage::Format_ARGB32);
        logo.fill(Qt::red);
        ASSERT_TRUE(logo.save(path(QStringLiteral("distributor.png"))));
    }
    // The file with one piece of text replaced.
    static QByteArray validWith(const char* from, const char* to)
    {
        QByteArray content(validFile);
        EXPECT_TRUE(content.contains(from));
        return content.replace(from, to);
    }

    static void expectDefaults(const DistributorRecord& record)
    {
        EXPECT_TRUE(record.id.isEmpty());
        EXPECT_TRUE(record.aboutBoxText.isEmpty());
        EXPECT_TRUE(record.supportEmail.isEmpty());
        EXPECT_TRUE(record.homePage);
        EXPECT_TRUE(record.latestNews);
        EXPECT_TRUE(record.checkForUpdates);
    }

    std::unique_ptr<QApplication> m_application;
    QTemporaryDir m_folder;
};

TEST_F(Distributor, WithoutAFileEverythingIsOnAndNothingIsLogged)
{
    const int logged = runLogLines().size();
    const DistributorRecord record = DistributorRecord::load(m_folder.path());
    expectDefaults(record);
    EXPECT_TRUE(record.valid);
    EXPECT_TRUE(record.errors.isEmpty());
    EXPECT_TRUE(record.logo.isNull());
    EXPECT_EQ(record.filePath, path(QStringLiteral("distributor.xml")));
    EXPECT_EQ(record.logoPath, path(QStringLiteral("distributor.png")));
    EXPECT_EQ(runLogLines().size(), logged);
}

TEST_F(Distributor, AValidFileSetsEveryField)
{
    writeXml(validFile);
    const DistributorRecord record = DistributorRecord::load(m_folder.path());
    EXPECT_TRUE(record.valid);
    EXPECT_TRUE(record.errors.isEmpty());
    EXPECT_EQ(record.id, QStringLiteral("acme"));
    EXPECT_EQ(record.aboutBoxText, QStringLiteral("Sold by <i>Acme</i>"));
    EXPECT_EQ(record.supportEmail, QStringLiteral("help@acme.example"));
    EXPECT_TRUE(record.homePage);
    EXPECT_TRUE(record.latestNews);
    EXPECT_FALSE(record.checkForUpdates);
}

TEST_F(Distributor, AFlagWrittenAsAWordRejectsTheWholeFile)
{
    writeXml(validWith("<LatestNews enabled=\"1\"/>", "<LatestNews enabled=\"true\"/>"));
    const DistributorRecord record = DistributorRecord::load(m_folder.path());
    EXPECT_FALSE(record.valid);
    EXPECT_EQ(record.errors,
              QStringLiteral("Error: Invalid value 'true' for attribute 'enabled' of element 'LatestNews'\n"));
    // Not even the fields that read well are applied.
    expectDefaults(record);
    const QStringList lines = runLogLines();
    const int at = lines.indexOf(QStringLiteral("ERRORS found in ") + record.filePath);
    ASSERT_GE(at, 0) << qPrintable(lines.join(QLatin1Char('\n')));
    ASSERT_GT(lines.size(), at + 1);
    EXPECT_EQ(lines[at + 1], QStringLiteral("Error: Invalid value 'true' for attribute 'enabled' of element 'LatestNews'"));
}

TEST_F(Distributor, AMissingEmailRejectsTheFileButTheLogoStillLoads)
{
    writeXml(validWith("  <Email support=\"help@acme.example\"/>\n", ""));
    writeLogo(150);
    const DistributorRecord record = DistributorRecord::load(m_folder.path());
    EXPECT_FALSE(record.valid);
    EXPECT_EQ(record.errors, QStringLiteral("Error: Could not find element 'Email', child of 'Distributor'\n"));
    expectDefaults(record);
    EXPECT_EQ(record.logo.width(), 150);
}

TEST_F(Distributor, MissingAttributesAndElementsAreEachReported)
{
    writeXml(validWith("<Distributor id=\"acme\">", "<Distributor>")
                 .replace("<HomePage enabled=\"1\"/>", "<HomePage/>")
                 .replace("<Email support=\"help@acme.example\"/>", "<Email/>")
                 .replace("<AboutBoxText>Sold by &lt;i&gt;Acme&lt;/i&gt;</AboutBoxText>", ""));
    const DistributorRecord record = DistributorRecord::load(m_folder.path());
    EXPECT_FALSE(record.valid);
    EXPECT_EQ(record.errors,
              QStringLiteral("Error: Expected attribute 'id' to be defined for tag 'Distributor'\n"
                             "Error: Expected attribute 'enabled' to be defined for tag 'HomePage'\n"
                             "Error: Could not find element 'AboutBoxText', child of 'Distributor'\n"
                             "Error: Expected attribute 'support' to be defined for tag 'Email'\n"));
    expectDefaults(record);
}

TEST_F(Distributor, MalformedXmlGivesTheParsersPosition)
{
    writeXml("<Distributor id=\"acme\">\n  <HomePage enabled=\"1\">\n</Distributor>\n");
    const DistributorRecord record = DistributorRecord::load(m_folder.path());
    EXPECT_FALSE(record.valid);
    EXPECT_EQ(record.errors, QStringLiteral("Error: line 3, col 14: tag mismatch\n"));
    expectDefaults(record);
    EXPECT_TRUE(runLogLines().contains(QStringLiteral("ERRORS found in ") + record.filePath));
}

TEST_F(Distributor, AnEmptyIdMeansNoneAndOnlyTheFirstElementOfANameCounts)
{
    writeXml(validWith("<Distributor id=\"acme\">", "<Distributor id=\"\">")
                 .replace("<CheckForUpdates enabled=\"0\"/>",
                          "<CheckForUpdates enabled=\"1\"/><CheckForUpdates enabled=\"0\"/>"));
    const DistributorRecord record = DistributorRecord::load(m_folder.path());
    EXPECT_TRUE(record.valid) << qPrintable(record.errors);
    EXPECT_TRUE(record.id.isEmpty());
    EXPECT_TRUE(record.checkForUpdates);
}

TEST_F(Distributor, TheProcessRecordIsReadOnceFromItsFolder)
{
    writeXml(validFile);
    writeLogo(640);
    setDistributorFolder(m_folder.path());
    EXPECT_EQ(distributorId(), QStringLiteral("acme"));
    EXPECT_EQ(distributorAboutText(), QStringLiteral("Sold by <i>Acme</i>"));
    EXPECT_EQ(distributorLogo().width(), 640);
    // A later change to the file is not seen: there is no reload.
    writeXml(validWith("id=\"acme\"", "id=\"other\""));
    EXPECT_EQ(distributorId(), QStringLiteral("acme"));
    EXPECT_EQ(&distributorRecord(), &distributorRecord());
}

} // namespace
