// The file-name prompts of the prompt seam, answered from a script: what the dialog is asked
// with, the name and filter handed back, and a cancel that leaves the caller's filter alone.

#include "document/Prompt.h"

#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

using testsupport::ScriptedPrompt;

namespace {

const QString kFilter = QStringLiteral("PNG (*.png);;TIFF (*.tif *.tiff)");

TEST(FileNamePrompt, SaveHandsBackTheNameAndTheChosenFilter)
{
    ScriptedPrompt prompt;
    prompt.answerFileName(QStringLiteral("/out/cut.tif"), QStringLiteral("TIFF (*.tif *.tiff)"));
    QString filter = QStringLiteral("PNG (*.png)");
    const QString name = Prompt::getSaveFileName(nullptr, QStringLiteral("Save As"), QStringLiteral("/out"), kFilter,
                                                 &filter, QFileDialog::DontConfirmOverwrite);
    EXPECT_EQ(name, QStringLiteral("/out/cut.tif"));
    EXPECT_EQ(filter, QStringLiteral("TIFF (*.tif *.tiff)"));
    ASSERT_EQ(prompt.fileRequests().size(), 1);
    const Prompt::FileRequest& request = prompt.fileRequests().first();
    EXPECT_EQ(request.kind, Prompt::SaveFile);
    EXPECT_EQ(request.caption, QStringLiteral("Save As"));
    EXPECT_EQ(request.directory, QStringLiteral("/out"));
    EXPECT_EQ(request.filter, kFilter);
    // The filter the dialog opened with.
    EXPECT_EQ(request.selectedFilter, QStringLiteral("PNG (*.png)"));
    EXPECT_EQ(request.options, QFileDialog::Options(QFileDialog::DontConfirmOverwrite));
}

TEST(FileNamePrompt, AnAnswerWithoutAFilterKeepsTheOneItOpenedWith)
{
    ScriptedPrompt prompt;
    prompt.answerFileName(QStringLiteral("/in/a.png"));
    QString filter = QStringLiteral("PNG (*.png)");
    EXPECT_EQ(Prompt::getOpenFileName(nullptr, QStringLiteral("Open"), QString(), kFilter, &filter),
              QStringLiteral("/in/a.png"));
    EXPECT_EQ(filter, QStringLiteral("PNG (*.png)"));
    EXPECT_EQ(prompt.fileRequests().first().kind, Prompt::OpenFile);
    // No filter asked for: nothing to hand back.
    prompt.answerFileName(QStringLiteral("/in/b.png"), QStringLiteral("TIFF (*.tif *.tiff)"));
    EXPECT_EQ(Prompt::getOpenFileName(nullptr, QStringLiteral("Open"), QString(), kFilter),
              QStringLiteral("/in/b.png"));
}

TEST(FileNamePrompt, CancelOrNoScriptedAnswerGivesNoNameAndKeepsTheFilter)
{
    ScriptedPrompt prompt;
    prompt.cancelFileName();
    QString filter = QStringLiteral("PNG (*.png)");
    EXPECT_TRUE(Prompt::getSaveFileName(nullptr, QStringLiteral("Save"), QString(), kFilter, &filter).isEmpty());
    EXPECT_TRUE(Prompt::getSaveFileName(nullptr, QStringLiteral("Save"), QString(), kFilter, &filter).isEmpty());
    EXPECT_EQ(filter, QStringLiteral("PNG (*.png)"));
    EXPECT_EQ(prompt.fileRequests().size(), 2);
}

} // namespace
