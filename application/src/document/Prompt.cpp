#include "document/Prompt.h"

#include <QAbstractButton>
#include <QCheckBox>

namespace {

class QtDialogs : public Prompt::Handler {
public:
    QMessageBox::StandardButton message(QWidget* parent, const Prompt::Message& m) override
    {
        if (!m.buttonTexts.isEmpty() || m.selectableText)
            return messageWithButtonTexts(parent, m);
        switch (m.kind) {
        case Prompt::Information:
            return QMessageBox::information(parent, m.title, m.text, m.buttons, m.defaultButton);
        case Prompt::Warning:
            return QMessageBox::warning(parent, m.title, m.text, m.buttons, m.defaultButton);
        case Prompt::Critical:
            return QMessageBox::critical(parent, m.title, m.text, m.buttons, m.defaultButton);
        case Prompt::Question:
            break;
        }
        return QMessageBox::question(parent, m.title, m.text, m.buttons, m.defaultButton);
    }

    QColor color(const QColor& initial, QWidget* parent, const QString& title,
                 QColorDialog::ColorDialogOptions options) override
    {
        return QColorDialog::getColor(initial, parent, title, options);
    }

    QMessageBox::StandardButton messageWithCheckBox(QWidget* parent, const Prompt::Message& m,
                                                    bool& checked) override
    {
        const QMessageBox::Icon icon = m.kind == Prompt::Information ? QMessageBox::Information
                                       : m.kind == Prompt::Warning   ? QMessageBox::Warning
                                       : m.kind == Prompt::Critical  ? QMessageBox::Critical
                                                                     : QMessageBox::Question;
        QMessageBox box(icon, m.title, m.text, m.buttons, parent);
        box.setDefaultButton(m.defaultButton);
        // The box owns the check box and places it under the text.
        auto* check = new QCheckBox(m.checkBoxText);
        box.setCheckBox(check);
        const auto answer = QMessageBox::StandardButton(box.exec());
        checked = check->isChecked();
        return answer;
    }

    static QMessageBox::StandardButton messageWithButtonTexts(QWidget* parent, const Prompt::Message& m)
    {
        QMessageBox box(iconOf(m.kind), m.title, m.text, m.buttons, parent);
        for (const auto& named : m.buttonTexts)
            if (QAbstractButton* button = box.button(named.first))
                button->setText(named.second);
        if (m.selectableText)
            box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        if (m.defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(m.defaultButton);
        return QMessageBox::StandardButton(box.exec());
    }

    static QMessageBox::Icon iconOf(Prompt::Kind kind)
    {
        return kind == Prompt::Information ? QMessageBox::Information
               : kind == Prompt::Warning   ? QMessageBox::Warning
               : kind == Prompt::Critical  ? QMessageBox::Critical
                                           : QMessageBox::Question;
    }

    QString fileName(QWidget* parent, const Prompt::FileRequest& r, QString* selectedFilter) override
    {
        QString chosenFilter = r.selectedFilter;
        const QString name =
            r.kind == Prompt::OpenFile
                ? QFileDialog::getOpenFileName(parent, r.caption, r.directory, r.filter, &chosenFilter, r.options)
                : QFileDialog::getSaveFileName(parent, r.caption, r.directory, r.filter, &chosenFilter, r.options);
        if (selectedFilter && !name.isEmpty())
            *selectedFilter = chosenFilter;
        return name;
    }
};

QtDialogs g_qtDialogs;
Prompt::Handler* g_handler = &g_qtDialogs;

} // namespace

void Prompt::setHandler(Handler* handler)
{
    g_handler = handler ? handler : &g_qtDialogs;
}

Prompt::Handler* Prompt::handler()
{
    return g_handler;
}

QMessageBox::StandardButton Prompt::ask(QWidget* parent, const Message& message)
{
    return g_handler->message(parent, message);
}

QMessageBox::StandardButton Prompt::information(QWidget* parent, const QString& title,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::StandardButton defaultButton)
{
    return ask(parent, {Information, title, text, buttons, defaultButton});
}

QMessageBox::StandardButton Prompt::warning(QWidget* parent, const QString& title,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton)
{
    return ask(parent, {Warning, title, text, buttons, defaultButton});
}

QMessageBox::StandardButton Prompt::critical(QWidget* parent, const QString& title,
                                             const QString& text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    return ask(parent, {Critical, title, text, buttons, defaultButton});
}

QMessageBox::StandardButton Prompt::question(QWidget* parent, const QString& title,
                                             const QString& text,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    return ask(parent, {Question, title, text, buttons, defaultButton});
}

QMessageBox::StandardButton Prompt::informationWithCheckBox(QWidget* parent, const QString& title,
                                                            const QString& text,
                                                            const QString& checkBoxText, bool& checked)
{
    Message message{Information, title, text, QMessageBox::Ok, QMessageBox::Ok};
    message.checkBoxText = checkBoxText;
    return g_handler->messageWithCheckBox(parent, message, checked);
}

QMessageBox::StandardButton Prompt::warningToCopy(QWidget* parent, const QString& title, const QString& text)
{
    Message message{Warning, title, text, QMessageBox::Ok, QMessageBox::Ok};
    message.selectableText = true;
    return ask(parent, message);
}

QMessageBox::StandardButton
Prompt::withButtonTexts(QWidget* parent, Kind kind, const QString& title, const QString& text,
                        const QList<QPair<QMessageBox::StandardButton, QString>>& buttonTexts,
                        QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButtons buttons;
    for (const auto& named : buttonTexts)
        buttons |= named.first;
    Message message{kind, title, text, buttons, defaultButton};
    message.buttonTexts = buttonTexts;
    return ask(parent, message);
}

QColor Prompt::getColor(const QColor& initial, QWidget* parent, const QString& title,
                        QColorDialog::ColorDialogOptions options)
{
    return g_handler->color(initial, parent, title, options);
}

QString Prompt::getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                const QString& filter, QString* selectedFilter, QFileDialog::Options options)
{
    const FileRequest request{OpenFile, caption, directory, filter,
                              selectedFilter ? *selectedFilter : QString(), options};
    return g_handler->fileName(parent, request, selectedFilter);
}

QString Prompt::getSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                const QString& filter, QString* selectedFilter, QFileDialog::Options options)
{
    const FileRequest request{SaveFile, caption, directory, filter,
                              selectedFilter ? *selectedFilter : QString(), options};
    return g_handler->fileName(parent, request, selectedFilter);
}
