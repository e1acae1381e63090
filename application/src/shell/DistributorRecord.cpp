#include "shell/DistributorRecord.h"

#include "shell/Klogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QFile>

#include <memory>

namespace {

std::unique_ptr<DistributorRecord> g_record;
QString g_folder;

// Reads the document's fields into the record, appending one line per fault to errors.
class Reader {
public:
    Reader(const QDomElement& root, QString& errors) : m_root(root), m_errors(errors) {}

    QString attribute(const QDomElement& element, const QString& name)
    {
        if (!element.hasAttribute(name)) {
            m_errors += QStringLiteral("Error: Expected attribute '%1' to be defined for tag '%2'\n")
                            .arg(name, element.tagName());
            return QString();
        }
        return element.attribute(name);
    }

    // Null (and an error line) when the root has no such child.
    QDomElement child(const QString& name)
    {
        const QDomElement element = m_root.firstChildElement(name);
        if (element.isNull())
            m_errors += QStringLiteral("Error: Could not find element '%1', child of '%2'\n")
                            .arg(name, m_root.tagName());
        return element;
    }

    bool flag(const QString& name)
    {
        const QDomElement element = child(name);
        if (element.isNull())
            return false;
        const QString enabled = QStringLiteral("enabled");
        if (!element.hasAttribute(enabled)) {
            attribute(element, enabled);
            return false;
        }
        const QString value = element.attribute(enabled);
        if (value == QLatin1String("1"))
            return true;
        if (value != QLatin1String("0"))
            m_errors += QStringLiteral("Error: Invalid value '%1' for attribute '%2' of element '%3'\n")
                            .arg(value, enabled, element.tagName());
        return false;
    }

    QString text(const QString& name)
    {
        const QDomElement element = child(name);
        return element.isNull() ? QString() : element.text();
    }

    QString childAttribute(const QString& name, const QString& attributeName)
    {
        const QDomElement element = child(name);
        return element.isNull() ? QString() : attribute(element, attributeName);
    }

private:
    QDomElement m_root;
    QString& m_errors;
};

} // namespace

DistributorRecord DistributorRecord::load(const QString& folder)
{
    DistributorRecord record;
    const QDir dir(folder);
    record.logoPath = QDir::cleanPath(dir.absoluteFilePath(QStringLiteral("distributor.png")));
    record.filePath = QDir::cleanPath(dir.absoluteFilePath(QStringLiteral("distributor.xml")));
    record.logo.load(record.logoPath);

    QFile file(record.filePath);
    if (!file.open(QIODevice::ReadOnly))
        return record;

    QDomDocument document(QStringLiteral("Customisation"));
    QString message;
    int line = 0;
    int column = 0;
    DistributorRecord scratch;
    if (!document.setContent(&file, &message, &line, &column)) {
        record.errors += QStringLiteral("Error: line %1, col %2: %3\n").arg(line).arg(column).arg(message);
    } else {
        const QDomElement root = document.documentElement();
        Reader reader(root, record.errors);
        scratch.id = reader.attribute(root, QStringLiteral("id"));
        scratch.homePage = reader.flag(QStringLiteral("HomePage"));
        scratch.latestNews = reader.flag(QStringLiteral("LatestNews"));
        scratch.checkForUpdates = reader.flag(QStringLiteral("CheckForUpdates"));
        scratch.aboutBoxText = reader.text(QStringLiteral("AboutBoxText"));
        scratch.supportEmail = reader.childAttribute(QStringLiteral("Email"), QStringLiteral("support"));
    }

    if (record.errors.isEmpty()) {
        record.id = scratch.id;
        record.aboutBoxText = scratch.aboutBoxText;
        record.homePage = scratch.homePage;
        record.latestNews = scratch.latestNews;
        record.checkForUpdates = scratch.checkForUpdates;
        record.supportEmail = scratch.supportEmail;
    } else {
        // Nothing of a faulty file is applied: a half-read one could, say, switch the update
        // check off by accident.
        record.valid = false;
        QString errors = record.errors;
        errors.chop(1);
        Klogger::stream() << "ERRORS found in " << record.filePath << '\n' << errors << Klogger::endl;
    }
    return record;
}

const DistributorRecord& distributorRecord()
{
    if (!g_record) {
        const QString folder = g_folder.isEmpty() ? QCoreApplication::applicationDirPath() : g_folder;
        g_record = std::make_unique<DistributorRecord>(DistributorRecord::load(folder));
    }
    return *g_record;
}

void setDistributorFolder(const QString& folder)
{
    g_record.reset();
    g_folder = folder;
}

QString distributorId()
{
    return distributorRecord().id;
}

QString distributorAboutText()
{
    return distributorRecord().aboutBoxText;
}

QPixmap distributorLogo()
{
    const QImage& logo = distributorRecord().logo;
    return logo.isNull() ? QPixmap() : QPixmap::fromImage(logo);
}
