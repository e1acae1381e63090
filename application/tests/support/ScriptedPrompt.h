#pragma once
// Answers the program's prompts from a script and records what was asked, so that tests never
// block on a modal dialog. Installed for its lifetime.

#include "Prompt.h"

#include <QList>
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

    const QList<Prompt::Message>& messages() const { return m_messages; }
    int colorRequests() const { return m_colorRequests; }

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

private:
    QQueue<QMessageBox::StandardButton> m_buttons;
    QQueue<QColor> m_colors;
    QQueue<bool> m_ticks;
    QList<Prompt::Message> m_messages;
    int m_colorRequests = 0;
};

} // namespace testsupport
