#pragma once
// A walk over the document value of a project file, made before Qt's data stream reads it.
// Qt's reader trusts what it finds: it reserves room for a list's claimed count before it
// reads one element, follows nesting without a bound, and builds any value type it knows (an
// icon that names a file opens that file). The walk follows the value as the project's stream
// version encodes it and takes only what our documents hold: maps, lists, strings, string
// lists, byte arrays, bools, ints, doubles, points, rectangles, polygons, colours, painter
// paths, and PNG pictures under the keys that hold pictures. It reads no byte outside those it
// is given, and allocates nothing but the list of the pictures it passes, when asked for one.

#include <QList>
#include <QString>
#include <QtGlobal>

class ProjectStreamCheck {
public:
    // Lists and maps inside one another; our documents nest a few levels.
    static constexpr int maxNesting = 64;

    // A picture the value holds, as its PNG header gives it: a picture Qt's reader decodes as
    // it reads the value, or the PNG file that a byte array holds under a key of pictures (an
    // image's pixels kept at their own depth), which it leaves encoded.
    struct Picture {
        // The key of the outermost map that it lies under ("segImg_"), and its own key
        // ("imageImage_"); the two are one for a picture in the outermost map.
        QString documentKey;
        QString key;
        qint64 width = 0;
        qint64 height = 0;
        // Decoded as the value is read; its pixels then take decodedBytes.
        bool decoded = false;
        quint64 decodedBytes = 0;
    };

    // The length of the value encoded at the start of the bytes, or -1 when it is not one of
    // ours: a type no document holds, a count that the bytes left cannot hold, a picture that
    // claims more pixels than its data can carry, a painter path whose elements are in an order
    // Qt never builds, deeper nesting, or bytes that end inside it. The pictures it holds go to
    // `pictures` when one is given.
    static qint64 valueLength(const char* data, qint64 size, QList<Picture>* pictures = nullptr);
};
