#pragma once
// An image together with the address it came from (a dropped file or web address, or none
// for an image carried by the drop itself). Passed by value in signals.

#include <QImage>
#include <QMetaType>
#include <QString>
#include <QUrl>

class NamedImage : public QImage {
public:
    NamedImage() = default;
    NamedImage(const QImage& image, const QUrl& url);
    virtual ~NamedImage() = default;
    NamedImage(const NamedImage&) = default;
    NamedImage& operator=(const NamedImage&) = default;

    const QUrl& url() const { return m_url; }
    void setUrl(const QUrl& url) { m_url = url; }
    // The last component of the address's path; empty without an address.
    virtual QString name() const;

private:
    QUrl m_url;
};

Q_DECLARE_METATYPE(NamedImage)
