#include "shell/Tunnelry.h"

#include "document/UserFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <vector>

namespace {

// Kept for the whole run, as callers may still hold an earlier reader.
std::vector<std::unique_ptr<Tunnelry>>& readers()
{
    static std::vector<std::unique_ptr<Tunnelry>> all;
    return all;
}

QString& inputPathValue()
{
    static QString path;
    return path;
}

QString& outputPathValue()
{
    static QString path;
    return path;
}

const QString kIdAttribute = QStringLiteral("id");
const QString kSrcAttribute = QStringLiteral("src");

} // namespace

Tunnelry::Tunnelry(const QString& path) : m_path(path), m_document(QStringLiteral("Tunnelry")) {}

Tunnelry* Tunnelry::create(const QString& path)
{
    readers().emplace_back(new Tunnelry(path));
    return readers().back().get();
}

Tunnelry* Tunnelry::current()
{
    return readers().empty() ? nullptr : readers().back().get();
}

QString Tunnelry::inputPath()
{
    return inputPathValue();
}

QString Tunnelry::outputPath()
{
    return outputPathValue();
}

bool Tunnelry::read()
{
    QFile file(m_path);
    if (!userfiles::mayOpen(m_path, "XML control file") || !file.open(QIODevice::ReadOnly))
        throw QStringLiteral("Unable to open XML control file: ") + m_path;
    QDomDocument document(QStringLiteral("Tunnelry"));
    QString error;
    int line = 0;
    int column = 0;
    if (!document.setContent(&file, &error, &line, &column)) {
        qWarning("XML control file %s: %s at line %d, column %d", qUtf8Printable(m_path),
                 qUtf8Printable(error), line, column);
        return false;
    }
    m_document = document;
    m_ids.clear();
    m_idsBuilt = false;
    // Joined with "/" even when the value is absolute, so that both images lie under the
    // control file's folder; a missing value leaves the folder itself, which no reader opens.
    const QString folder = QFileInfo(m_path).absolutePath() + QLatin1Char('/');
    inputPathValue() = folder + attribute(QStringLiteral("imageIn"), kSrcAttribute);
    outputPathValue() = folder + attribute(QStringLiteral("imageOut"), kSrcAttribute);
    return true;
}

void Tunnelry::buildIdMap(const QDomElement& root)
{
    // Depth first in document order, without recursion: a file may nest without limit.
    for (QDomElement element = root; !element.isNull();) {
        if (element.hasAttribute(kIdAttribute))
            m_ids.insert(element.attribute(kIdAttribute), element);
        QDomElement next = element.firstChildElement();
        while (next.isNull() && element != root) {
            next = element.nextSiblingElement();
            if (next.isNull())
                element = element.parentNode().toElement();
        }
        element = next;
    }
}

QDomElement Tunnelry::element(const QString& id)
{
    if (!m_idsBuilt) {
        buildIdMap(m_document.documentElement());
        m_idsBuilt = true;
    }
    // An unknown id is remembered as null, so it is never searched for again.
    return m_ids[id];
}

QString Tunnelry::attribute(const QString& id, const QString& name)
{
    const QDomElement found = element(id);
    return found.isNull() ? QString() : found.attribute(name);
}
