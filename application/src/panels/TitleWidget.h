#pragma once
// The coloured title bar a docked panel shows above its content: the title centred, a close
// button at the right. Floating panels hide it and use the system title bar instead.

#include <QWidget>

class QLabel;
class TitleButton;

class TitleWidget : public QWidget {
    Q_OBJECT
public:
    // Created hidden.
    explicit TitleWidget(const QString& text, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;

    QLabel* label() const { return m_label; }
    TitleButton* closeButton() const { return m_closeButton; }

private:
    QLabel* m_label;
    TitleButton* m_closeButton;
};
