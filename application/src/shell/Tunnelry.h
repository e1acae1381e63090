#pragma once
// The XML control file by which another program hands an image over: it names the input PNG
// and the output PNG, each by the "src" attribute of the element whose "id" is "imageIn" or
// "imageOut", relative to the control file's folder. Every other element is ignored.

#include <QDomDocument>
#include <QDomElement>
#include <QHash>
#include <QObject>
#include <QString>

class Tunnelry : public QObject {
    Q_OBJECT
public:
    // A new reader for the file, made the current one. Earlier readers stay alive until the
    // process ends.
    static Tunnelry* create(const QString& path);
    // The most recently created reader; null before the first.
    static Tunnelry* current();

    // Parses the file and sets the input and output paths. Throws the QString "Unable to open
    // XML control file: " + path when the file cannot be opened; returns false, changing
    // nothing, when it is not well-formed XML.
    bool read();

    // The paths of the last successful read of any reader; empty before one.
    static QString inputPath();
    static QString outputPath();

    QString path() const { return m_path; }
    // The element whose "id" is the given one (the last in document order); null when none.
    QDomElement element(const QString& id);
    // The element's attribute; empty when the element or the attribute is missing.
    QString attribute(const QString& id, const QString& name);

private:
    explicit Tunnelry(const QString& path);

    void buildIdMap(const QDomElement& element);

    QString m_path;
    QDomDocument m_document;
    QHash<QString, QDomElement> m_ids;
    bool m_idsBuilt = false;
};
