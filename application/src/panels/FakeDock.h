#pragma once
// The dock column beside the image: the second pane of the main window's splitter. It holds
// the docked panels above a stretch, shows itself while any of them is visible and takes width
// from the splitter's first pane so that the widest visible panel fits.

#include <QWidget>

class GmSubWindow;
class QSplitter;
class QVBoxLayout;

class FakeDock : public QWidget {
    Q_OBJECT
public:
    // Starts hidden.
    explicit FakeDock(QSplitter* parent);

    // Called by the panels when they dock and float.
    void addSubWindow(GmSubWindow* window);
    void removeSubWindow(GmSubWindow* window);

    QVBoxLayout* dockLayout() const { return m_layout; }

public slots:
    // Shows or hides the column for its visible panels and widens it for the widest.
    void childVisibilityChanged();

private:
    bool showsPanelOtherThan(const GmSubWindow* window) const;

    QVBoxLayout* m_layout;
    QSplitter* m_splitter;
};
