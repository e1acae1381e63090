#pragma once
// The base of the edge-blending option widgets: builds its controls once, shows a blending
// record in them and reads them back. Each change edits the record in focus, chosen anew at
// every change: the active patch's blending when a patch is active, else the image's. Nothing
// reaches the engine from here; mask generation reads the records.

#include <QObjectCleanupHandler>
#include <QWidget>

class BlendingOptions;
class QVBoxLayout;

class BlendOptsWidget : public QWidget {
    Q_OBJECT
public:
    explicit BlendOptsWidget(bool persistable, QWidget* parent = nullptr);
    ~BlendOptsWidget() override;

    // Record to controls; nothing for null. Call after ensureBuilt.
    virtual void showSettings(BlendingOptions* options) = 0;
    // Controls to record; nothing for null.
    virtual void readSettings(BlendingOptions* options) = 0;

    // Builds the controls the first time. A persistable widget with the workspace preference
    // "PersistOptions" on then reads its controls into the record in focus (the previous run's
    // values win over the model's); otherwise it shows that record.
    void ensureBuilt();

    bool isPersistable() const { return m_persistable; }

    // The image's blending options (never null: the model always holds them).
    static BlendingOptions* imageRecord();
    // The active patch's options, else the image's.
    static BlendingOptions* patchOrImageRecord();
    // The workspace preference "PersistOptions" (off without preferences).
    static bool persistOptions();

protected:
    virtual void buildControls(QVBoxLayout* layout) = 0;
    // The record a change edits.
    virtual BlendingOptions* recordInFocus() const;
    // Controls made by buildControls go here, so they are deleted with the widget.
    void own(QObject* control) { m_ownedControls.add(control); }

    // Through the style, so that style sheets reach the widget's background.
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_persistable;
    QObjectCleanupHandler m_ownedControls;
};
