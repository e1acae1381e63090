#pragma once
// A named colour the user can change through a colour dialog. With persist 1 it is read from
// "Colors/<key name>" when built and written back when destroyed; with persist 0 it never
// touches the settings. Projects carry it as a map (toVariantMap).

#include <QColor>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>

class QAction;
class QToolButton;
class QWidget;

class GmColor : public QObject {
    Q_OBJECT
public:
    // Shows a text in the status bar while the colour dialog is open; an empty text clears it.
    using StatusMessageHook = std::function<void(const QString& message)>;

    GmColor(const QString& keyName, const QString& description, const QColor& defaultColor,
            int persist, QObject* parent = nullptr);
    // From a map written by toVariantMap; never reads the settings.
    explicit GmColor(const QVariantMap& map, QObject* parent = nullptr);
    ~GmColor() override;

    QVariantMap toVariantMap() const;

    QColor color() const { return m_color; }
    QColor defaultColor() const { return m_defaultColor; }
    // The colour before the last change, to which revertChangeSlot returns.
    QColor savedColor() const { return m_savedColor; }
    QString keyName() const { return m_keyName; }
    QString description() const { return m_description; }
    int persist() const { return m_persist; }

    // Takes a colour picked elsewhere (a pipette) and refreshes the icon, without emitting
    // colorChanged: the caller already knows.
    void setColor(const QColor& color);

    // "Change <description> color", made on first use with a 32 x 32 icon of the colour; it
    // opens the colour dialog.
    QAction* action();
    // A tool button on action(), made on first use. The colour owns it: a dialog that shows
    // it must hand it back (setParent(nullptr)) before the dialog goes.
    QToolButton* toolButton(QWidget* parent);
    // Refills the action's icon with the current colour.
    void updateIcon();

    // Set by the main window; without one nothing is shown.
    static void setStatusMessageHook(StatusMessageHook hook);

signals:
    void colorChanged(QColor color);

public slots:
    void restoreDefaultSlot();
    void revertChangeSlot();
    void commitChangeSlot();
    void changeColorSlot();

private:
    bool persists() const;
    QString settingsKey() const;
    QPixmap iconPixmap() const;

    QColor m_color;
    QColor m_defaultColor;
    QColor m_savedColor;
    QString m_keyName;
    QString m_description;
    QAction* m_action = nullptr;
    QPointer<QToolButton> m_toolButton;
    int m_persist = 0;
};
