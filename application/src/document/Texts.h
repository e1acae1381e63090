#pragma once
// Shared text helpers: the product name, the log time stamp, the "Learn More" help paragraph
// and translation lookups in the contexts of classes that live elsewhere in the program. Each
// lookup is the one the class's own tr() makes, so callers need not include the class.

#include <QString>
#include <QTime>

// "Kestrine 3".
QString productName();

// The local time as "hh:mm:ss.zzz " (with the trailing blank) that starts every log line.
QString logTimeStamp();
QString logTimeStamp(const QTime& time);

namespace ks {
// "<a href=\"url\">text</a>". In our namespace because the C library's link() takes the global
// name: a call with two string literals would silently reach it.
QString link(const QString& text, const QString& url);
} // namespace ks

// Empty for an empty address; otherwise a paragraph holding a translated "Learn More" link to
// the help topic (a path relative to the help root).
QString learnMoreParagraph(const QString& url);

// Translation in the application object's context, with a translator tag such as "[tip]".
QString ksAppTr(const char* text, const char* disambiguation = nullptr);
// Translation in the forced-edge tool's context.
QString forcedEdgeToolTr(const char* text, const char* disambiguation = nullptr);
// Translation in the edge-finding panel's context.
QString edgeFindingTr(const char* text, const char* disambiguation = nullptr);
