#pragma once
// Every message box, colour dialog and file dialog of the program goes through here, so that
// tests can answer them from a script instead of blocking on a modal dialog.

#include <QColor>
#include <QColorDialog>
#include <QFileDialog>
#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>

class QWidget;

class Prompt {
public:
    enum Kind { Information, Warning, Critical, Question };

    struct Message {
        Kind kind;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
        // The text of a check box under the message ("Don't tell me again."); empty for none.
        QString checkBoxText = QString();
        // Texts that replace the standard texts of some of the buttons ("Remind Me Later" on
        // Cancel); each button keeps its role.
        QList<QPair<QMessageBox::StandardButton, QString>> buttonTexts = {};
        // Whether the user can select the text and copy it (an address to open elsewhere).
        bool selectableText = false;
    };

    enum FileKind { OpenFile, SaveFile };

    // A request for one file name, as the file dialog is opened with it.
    struct FileRequest {
        FileKind kind;
        QString caption;
        QString directory;
        QString filter;
        // The filter selected when the dialog opens.
        QString selectedFilter;
        QFileDialog::Options options;
    };

    // Answers the prompts; the default one shows Qt's own dialogs.
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual QMessageBox::StandardButton message(QWidget* parent, const Message& message) = 0;
        // An invalid colour means the user cancelled.
        virtual QColor color(const QColor& initial, QWidget* parent, const QString& title,
                             QColorDialog::ColorDialogOptions options) = 0;
        // A message with its check box; checked receives the box's state when it closes. A
        // handler that shows no check box leaves it unticked.
        virtual QMessageBox::StandardButton messageWithCheckBox(QWidget* parent, const Message& message,
                                                                bool& checked)
        {
            checked = false;
            return this->message(parent, message);
        }
        // An empty name means the user cancelled; otherwise the filter the user chose goes
        // to selectedFilter (which may be null).
        virtual QString fileName(QWidget* parent, const FileRequest& request, QString* selectedFilter) = 0;
    };

    // The handler is not owned; null restores Qt's dialogs.
    static void setHandler(Handler* handler);
    static Handler* handler();

    static QMessageBox::StandardButton
    information(QWidget* parent, const QString& title, const QString& text,
                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton
    warning(QWidget* parent, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton
    critical(QWidget* parent, const QString& title, const QString& text,
             QMessageBox::StandardButtons buttons = QMessageBox::Ok,
             QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton
    question(QWidget* parent, const QString& title, const QString& text,
             QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
             QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    // An information box with one OK button and a check box below the text.
    static QMessageBox::StandardButton informationWithCheckBox(QWidget* parent, const QString& title,
                                                               const QString& text,
                                                               const QString& checkBoxText, bool& checked);
    // A warning with an OK button whose text the user can select and copy.
    static QMessageBox::StandardButton warningToCopy(QWidget* parent, const QString& title, const QString& text);
    // A message whose buttons carry texts of their own; the answer is the standard button
    // behind the text chosen.
    static QMessageBox::StandardButton
    withButtonTexts(QWidget* parent, Kind kind, const QString& title, const QString& text,
                    const QList<QPair<QMessageBox::StandardButton, QString>>& buttonTexts,
                    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QColor getColor(const QColor& initial, QWidget* parent = nullptr,
                           const QString& title = QString(),
                           QColorDialog::ColorDialogOptions options = {});
    // As QFileDialog's statics: empty when cancelled; selectedFilter is read as the filter to
    // start with and receives the one chosen.
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                   const QString& filter, QString* selectedFilter = nullptr,
                                   QFileDialog::Options options = {});
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                   const QString& filter, QString* selectedFilter = nullptr,
                                   QFileDialog::Options options = {});

private:
    static QMessageBox::StandardButton ask(QWidget* parent, const Message& message);
};
