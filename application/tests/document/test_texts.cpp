// Actions whose tool tip shows the shortcut, the help-link paragraph, the log time stamp and
// the translation contexts that the shared lookups use.

#include "document/GmAction.h"
#include "document/Texts.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTranslator>

#include <gtest/gtest.h>

namespace {

// Answers every lookup with its context and disambiguation, so a wrong context shows.
class RecordingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        return QStringLiteral("%1|%2|%3|%4")
            .arg(QString::fromLatin1(context), QString::fromLatin1(sourceText),
                 QString::fromLatin1(disambiguation ? disambiguation : ""))
            .arg(n);
    }
    bool isEmpty() const override { return false; }
};

} // namespace

TEST(GmAction, ToolTipShowsTheShortcut)
{
    GmAction tips("Tips", nullptr);
    tips.setToolTip("Tips");
    tips.setShortcut(QKeySequence("Ctrl+T"));
    EXPECT_EQ(tips.toolTip(), "Tips (Ctrl+T)");
    EXPECT_EQ(tips.shortcut(), QKeySequence("Ctrl+T"));

    // Without a tool tip of its own the action's text, less its mnemonic, is the tip.
    GmAction cancel(QIcon(), "&Cancel", nullptr);
    cancel.setShortcut(QKeySequence("Ctrl+X"));
    EXPECT_EQ(cancel.toolTip(), "Cancel (Ctrl+X)");
}

TEST(GmAction, AnotherShortcutReplacesTheShownOne)
{
    GmAction action("Undo", nullptr);
    action.setShortcut(QKeySequence("Ctrl+Z"));
    action.setShortcut(QKeySequence("Ctrl+Y"));
    EXPECT_EQ(action.toolTip(), "Undo (Ctrl+Y)");
    action.setShortcut(QKeySequence());
    EXPECT_EQ(action.toolTip(), "Undo");

    // A tool tip set in between is kept whole.
    action.setShortcut(QKeySequence("Ctrl+Z"));
    action.setToolTip("Undo the last step");
    action.setShortcut(QKeySequence("Ctrl+U"));
    EXPECT_EQ(action.toolTip(), "Undo the last step (Ctrl+U)");
}

TEST(Texts, LearnMoreParagraph)
{
    EXPECT_TRUE(learnMoreParagraph(QString()).isEmpty());
    EXPECT_EQ(learnMoreParagraph("4-Kestrine_Tools/Rendering_Options.htm"),
              "<p><a href=\"4-Kestrine_Tools/Rendering_Options.htm\">Learn More</a></p>");
    // Percent signs in an address are not taken for placeholders.
    EXPECT_EQ(ks::link("a%2b", "x%1y"), "<a href=\"x%1y\">a%2b</a>");
}

TEST(Texts, LogTimeStampAndProductName)
{
    const QString stamp = logTimeStamp(QTime(9, 5, 3, 7));
    EXPECT_EQ(stamp, "09:05:03.007 ");
    EXPECT_EQ(stamp.size(), 13);
    const QRegularExpression stampForm("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d $");
    EXPECT_TRUE(stampForm.match(logTimeStamp()).hasMatch());
    EXPECT_EQ(productName(), "Kestrine 3");
}

TEST(Texts, LookupsUseTheirClassesContexts)
{
    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    EXPECT_EQ(ksAppTr("Learn More", "[tip]"), "KsApp|Learn More|[tip]|-1");
    EXPECT_EQ(forcedEdgeToolTr("Forced Edge"), "ForcedEdgeTool|Forced Edge||-1");
    EXPECT_EQ(edgeFindingTr("Number of Edges"), "EdgeDetectionOptions|Number of Edges||-1");
    EXPECT_EQ(learnMoreParagraph("t.htm"),
              "<p><a href=\"t.htm\">KsApp|Learn More|[tip]|-1</a></p>");
    QCoreApplication::removeTranslator(&translator);
    EXPECT_EQ(ksAppTr("Learn More", "[tip]"), "Learn More");
}
