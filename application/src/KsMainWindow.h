#pragma once
// The program's one top-level window. It registers itself process-wide first thing, before
// any child exists, and is deleted when closed.

#include <QMainWindow>

class KsMainWindow : public QMainWindow {
    Q_OBJECT
public:
    KsMainWindow();
    ~KsMainWindow() override;

    // Null before the window is built and after it is gone.
    static KsMainWindow* instance();

    // While false the close check hands back without asking; Save and Apply clears it.
    bool promptOnDiscard() const { return m_promptOnDiscard; }
    void setPromptOnDiscard(bool prompt) { m_promptOnDiscard = prompt; }

public slots:
    // Help > About: the About box over this window, without blocking.
    void aboutSlot();

private:
    bool m_promptOnDiscard = true;
};
