// The check over a project's document bytes before Qt reads them: the fuzz corpus (a real
// project passes to its last byte and Qt reads it to the same end; the hostile files are
// refused), the nesting bound, counts against the bytes left, and the types and pictures
// that no document holds.

#include "StreamRoundTrip.h"
#include "document/Brushing.h"
#include "document/ProjectStreamCheck.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QUrl>
#include <QVariant>

#include <gtest/gtest.h>

#include <functional>

namespace {

using testsupport::encoded;

// Magic, version and image fingerprint come before the document.
constexpr int kHeaderBytes = 10;

qint64 checked(const QByteArray& bytes)
{
    return ProjectStreamCheck::valueLength(bytes.constData(), bytes.size());
}

QByteArray encoded(const QVariant& value)
{
    return encoded([&value](QDataStream& out) { out << value; });
}

// Lists (or maps with an empty key) inside one another, `levels` deep around an int.
QByteArray nested(int levels, QMetaType::Type container)
{
    return encoded([&](QDataStream& out) {
        for (int i = 0; i < levels; ++i) {
            out << quint32(container) << qint8(0) << quint32(1);
            if (container == QMetaType::QVariantMap)
                out << QString(QLatin1String(""));
        }
        out << QVariant(7);
    });
}

void registerPath()
{
    qRegisterMetaType<QPainterPath>("QPainterPath");
    qRegisterMetaTypeStreamOperators<QPainterPath>("QPainterPath");
}

TEST(ProjectStreamCheck, EverySeedOfTheFuzzCorpusIsCheckedAndOnlyOursAreRead)
{
    registerPath();
    const QDir seeds(QStringLiteral(PROJECT_SEEDS));
    const QStringList names = seeds.entryList(QDir::Files);
    ASSERT_GE(names.size(), 8);
    int real = 0;
    for (const QString& name : names) {
        QFile file(seeds.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray document = file.readAll().mid(kHeaderBytes);
        const qint64 length = checked(document);
        if (!name.startsWith(QLatin1String("real_"))) {
            EXPECT_EQ(length, -1) << name.toStdString();
            continue;
        }
        ++real;
        ASSERT_EQ(length, document.size()) << name.toStdString();
        QBuffer buffer;
        buffer.setData(document);
        buffer.open(QIODevice::ReadOnly);
        QDataStream in(&buffer);
        in.setVersion(QDataStream::Qt_5_15);
        QVariant value;
        in >> value;
        EXPECT_EQ(in.status(), QDataStream::Ok) << name.toStdString();
        EXPECT_EQ(buffer.pos(), length) << name.toStdString();
        EXPECT_EQ(value.userType(), int(QMetaType::QVariantMap)) << name.toStdString();
    }
    EXPECT_GE(real, 1);
}

TEST(ProjectStreamCheck, NestingIsBoundedForListsAndMaps)
{
    for (QMetaType::Type container : {QMetaType::QVariantList, QMetaType::QVariantMap}) {
        const QByteArray deepest = nested(ProjectStreamCheck::maxNesting, container);
        EXPECT_EQ(checked(deepest), deepest.size()) << container;
        EXPECT_EQ(checked(nested(ProjectStreamCheck::maxNesting + 1, container)), -1) << container;
        EXPECT_EQ(checked(nested(10000, container)), -1) << container;
    }
}

// Each value claims one element (or byte) more than it holds, and then about two billion.
TEST(ProjectStreamCheck, ACountBeyondTheBytesLeftIsRefused)
{
    struct Case {
        QVariant value;
        quint32 oneMore;
    };
    const QVariant one = 1;
    const QList<Case> cases{
        {QVariant(QVariantList{one, one}), 3},
        {QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}), 3},
        {QVariant(QPolygonF(QVector<QPointF>{QPointF(1, 2), QPointF(3, 4)})), 3},
        {QVariant(QVariantMap{{QStringLiteral("a"), one}, {QStringLiteral("b"), one}}), 3},
        {QVariant(QStringLiteral("text")), 10},
        {QVariant(QByteArray("bytes")), 6},
    };
    // The count follows the type and the null flag.
    const int countAt = 5;
    for (const Case& c : cases) {
        const QByteArray whole = encoded(c.value);
        ASSERT_EQ(checked(whole), whole.size()) << c.value.typeName();
        for (const quint32 claim : {c.oneMore, quint32(0x7FFFFFF0)}) {
            QByteArray bytes = whole;
            QDataStream patch(&bytes, QIODevice::ReadWrite);
            patch.device()->seek(countAt);
            patch << claim;
            EXPECT_EQ(checked(bytes), -1) << c.value.typeName() << " claiming " << claim;
        }
    }
}

TEST(ProjectStreamCheck, APainterPathIsReadOnlyWithinItsBytes)
{
    registerPath();
    QPainterPath path(QPointF(1, 2));
    path.lineTo(3, 4);
    const QByteArray whole = encoded(QVariant::fromValue(path));
    ASSERT_EQ(checked(whole), whole.size());
    // The element count follows the type, the flag and the type's name.
    const int countAt = 4 + 1 + 4 + 13;
    QByteArray bytes = whole;
    QDataStream patch(&bytes, QIODevice::ReadWrite);
    patch.device()->seek(countAt);
    patch << qint32(0x7FFFFFF0);
    EXPECT_EQ(checked(bytes), -1);
}

// Qt's drawing reads a curve's two control points from the elements after its CurveTo; in a
// release build nothing checks that they are there.
TEST(ProjectStreamCheck, APainterPathInAnOrderQtNeverBuildsIsRefused)
{
    registerPath();
    QPainterPath path(QPointF(1, 2));
    path.lineTo(3, 4);
    path.lineTo(5, 6);
    path.cubicTo(7, 8, 9, 10, 11, 12);
    ASSERT_EQ(path.elementCount(), 6);
    const QByteArray whole = encoded(QVariant::fromValue(path));
    ASSERT_EQ(checked(whole), whole.size());
    // Qt writes an empty path as no elements at all.
    const QByteArray empty = encoded(QVariant::fromValue(QPainterPath(QPointF(1, 2))));
    EXPECT_EQ(checked(empty), empty.size());

    // The elements follow the count, each a type and two coordinates.
    constexpr int firstElementAt = 4 + 1 + 4 + 13 + 4;
    const auto withTypes = [&whole](int element, const QList<QPainterPath::ElementType>& types) {
        QByteArray bytes = whole;
        QDataStream patch(&bytes, QIODevice::ReadWrite);
        for (int i = 0; i < types.size(); ++i) {
            patch.device()->seek(firstElementAt + 20 * (element + i));
            patch << qint32(types[i]);
        }
        return bytes;
    };
    // A path that ends in a CurveTo without its two data elements.
    const QByteArray endsInACurve =
        withTypes(3, {QPainterPath::LineToElement, QPainterPath::LineToElement, QPainterPath::CurveToElement});
    EXPECT_EQ(checked(endsInACurve), -1);
    // A path that begins with a LineTo.
    EXPECT_EQ(checked(withTypes(0, {QPainterPath::LineToElement})), -1);
}

// Types that no document holds are refused before Qt builds them, whatever their content.
TEST(ProjectStreamCheck, TypesNoDocumentHoldsAreRefused)
{
    QImage small(4, 4, QImage::Format_ARGB32);
    small.fill(Qt::red);
    for (const QVariant& value : QVariantList{QVariant(QIcon(QPixmap::fromImage(small))), QVariant(QPixmap::fromImage(small)),
                                  QVariant(QSize(1, 2)), QVariant(QUrl(QStringLiteral("file:///tmp"))),
                                  QVariant(qlonglong(5)), QVariant(1.5f)})
        EXPECT_EQ(checked(encoded(value)), -1) << value.typeName();
    // A picture is one of ours only where a document keeps its pictures.
    EXPECT_EQ(checked(encoded(QVariant(small))), -1);
    EXPECT_EQ(checked(encoded(QVariantList{small})), -1);
    EXPECT_EQ(checked(encoded(QVariantMap{{QStringLiteral("preview"), small}})), -1);
    const QByteArray status = encoded(QVariantMap{{QStringLiteral("statusArray_"), small}});
    EXPECT_EQ(checked(status), status.size());
}

// A PNG whose header claims far more pixels than its compressed data can carry.
TEST(ProjectStreamCheck, APictureClaimingMorePixelsThanItsDataCarriesIsRefused)
{
    QImage small(16, 16, QImage::Format_ARGB32);
    small.fill(Qt::blue);
    QByteArray bytes = encoded(QVariantMap{{QStringLiteral("imageImage_"), small}});
    ASSERT_EQ(checked(bytes), bytes.size());
    const int header = bytes.indexOf("IHDR");
    ASSERT_GT(header, 0);
    QDataStream patch(&bytes, QIODevice::ReadWrite);
    patch.device()->seek(header + 4);
    patch << quint32(30000) << quint32(30000);
    EXPECT_EQ(checked(bytes), -1);
}

// The pictures a document holds are reported as their headers give them, with the keys they lie
// under and what Qt's reader takes to decode them; an image's pixels kept as a PNG file in a
// byte array are reported too, as left encoded.
TEST(ProjectStreamCheck, ThePicturesPassedAreReportedFromTheirHeaders)
{
    QImage grey(30, 20, QImage::Format_Grayscale8);
    grey.fill(3);
    QImage colour(30, 20, QImage::Format_ARGB32);
    colour.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    colour.save(&buffer, "PNG");
    const QVariantMap document{
        {QStringLiteral("segImg_"), QVariantMap{{QStringLiteral("imageImage_"), grey}}},
        {QStringLiteral("blendImg_"), QVariantMap{{QStringLiteral("imageImage_"), png}}},
        {QStringLiteral("statusArray_"), colour}};
    const QByteArray bytes = encoded(QVariant(document));
    QList<ProjectStreamCheck::Picture> pictures;
    ASSERT_EQ(ProjectStreamCheck::valueLength(bytes.constData(), bytes.size(), &pictures), bytes.size());
    ASSERT_EQ(pictures.size(), 3);
    const auto under = [&pictures](const char* documentKey) {
        for (const ProjectStreamCheck::Picture& picture : pictures)
            if (picture.documentKey == QLatin1String(documentKey))
                return picture;
        return ProjectStreamCheck::Picture();
    };
    EXPECT_EQ(under("blendImg_").key, QStringLiteral("imageImage_"));
    EXPECT_FALSE(under("blendImg_").decoded);
    EXPECT_EQ(under("blendImg_").decodedBytes, 0u);
    EXPECT_EQ(under("segImg_").key, QStringLiteral("imageImage_"));
    EXPECT_TRUE(under("segImg_").decoded);
    EXPECT_EQ(under("segImg_").decodedBytes, 32u * 20u);
    EXPECT_EQ(under("statusArray_").key, QStringLiteral("statusArray_"));
    EXPECT_TRUE(under("statusArray_").decoded);
    EXPECT_EQ(under("statusArray_").decodedBytes, 30u * 20u * 4u);
    for (const ProjectStreamCheck::Picture& picture : pictures) {
        EXPECT_EQ(picture.width, 30);
        EXPECT_EQ(picture.height, 20);
    }
}

} // namespace
