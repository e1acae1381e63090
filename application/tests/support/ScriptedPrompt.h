#pragma once
// Answers the program's prompts from a script and records what was asked, so that tests never
// block on a modal dialog. Installed for its lifetime.

#include "document/Prompt.h"

#include <QList>
#include <QPair>
#include <QQueue>

#include <gtest/gtest.h>

namespace testsupport {

class ScriptedPrompt : public Prompt::Handler {
public:
    ScriptedPrompt() { Prompt::setHandler(this); }
    ~ScriptedPrompt() override { Prompt::setHandler(nullptr); }

    // Queued answers; a prompt with none queued takes its default button (or Cancel for a
    // colour) and is still recorded.
    void answer(QMessageBox::StandardButton button) { m_buttons.enqueue(button); }
    void answerColor(const QColor& color) { m_colors.enqueue(color); }
    void cancelColor() { m_colors.enqueue(QColor()); }
    // The state the next prompt's check box is left in; unticked when none is queued.
    void tick(bool checked) { m_ticks.enqueue(checked); }
    // A file dialog answers with the name and, when given, the filter the user picked (else
    // the filter it opened with); with none queued it is cancelled.
    void answerFileName(const QString& name, const QString& filter = QString())
    {
        m_fileNames.enqueue({name, filter});
    }
    void cancelFileName() { m_fileNames.enqueue({QString(), QString()}); }

    const QList<Prompt::Message>& messages() const { return m_messages; }
    int colorRequests() const { return m_colorRequests; }
    const QList<Prompt::FileRequest>& fileRequests() const { return m_fileRequests; }

    QMessageBox::StandardButton message(QWidget*, const Prompt::Message& message) override
    {
        m_messages.append(message);
        if (!m_buttons.isEmpty())
            return m_buttons.dequeue();
        return message.defaultButton != QMessageBox::NoButton ? message.defaultButton
                                                              : QMessageBox::Ok;
    }

    QMessageBox::StandardButton messageWithCheckBox(QWidget* parent, const Prompt::Message& message,
                                                    bool& checked) override
    {
        checked = !m_ticks.isEmpty() && m_ticks.dequeue();
        return this->message(parent, message);
    }

    QColor color(const QColor&, QWidget*, const QString&, QColorDialog::ColorDialogOptions) override
    {
        ++m_colorRequests;
        return m_colors.isEmpty() ? QColor() : m_colors.dequeue();
    }

    QString fileName(QWidget*, const Prompt::FileRequest& request, QString* selectedFilter) override
    {
        m_fileRequests.append(request);
        if (m_fileNames.isEmpty())
            return QString();
        const QPair<QString, QString> answer = m_fileNames.dequeue();
        if (selectedFilter && !answer.first.isEmpty())
            *selectedFilter = answer.second.isEmpty() ? request.selectedFilter : answer.second;
        return answer.first;
    }

private:
    QQueue<QMessageBox::StandardButton> m_buttons;
    QQueue<QColor> m_colors;
    QQueue<bool> m_ticks;
    QQueue<QPair<QString, QString>> m_fileNames;
    QList<Prompt::FileRequest> m_fileRequests;
    QList<Prompt::Message> m_messages;
    int m_colorRequests = 0;
};

} // namespace testsupport
