#pragma once
// Every message box and colour dialog of the program goes through here, so that tests can
// answer them from a script instead of blocking on a modal dialog.

#include <QColor>
#include <QColorDialog>
#include <QMessageBox>
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
    };

    // Answers the prompts; the default one shows Qt's own dialogs.
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual QMessageBox::StandardButton message(QWidget* parent, const Message& message) = 0;
        // An invalid colour means the user cancelled.
        virtual QColor color(const QColor& initial, QWidget* parent, const QString& title,
                             QColorDialog::ColorDialogOptions options) = 0;
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
    static QColor getColor(const QColor& initial, QWidget* parent = nullptr,
                           const QString& title = QString(),
                           QColorDialog::ColorDialogOptions options = {});

private:
    static QMessageBox::StandardButton ask(QWidget* parent, const Message& message);
};
