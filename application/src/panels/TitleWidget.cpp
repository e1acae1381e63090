#include "panels/TitleWidget.h"

#include "panels/TitleButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

TitleWidget::TitleWidget(const QString& text, QWidget* parent)
    : QWidget(parent), m_label(new QLabel(text, this)), m_closeButton(new TitleButton(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);

    m_label->setAlignment(Qt::AlignCenter);
    QPalette labelPalette = m_label->palette();
    labelPalette.setColor(QPalette::WindowText, Qt::white);
    m_label->setPalette(labelPalette);
    layout->addWidget(m_label, 1);

    m_closeButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton, nullptr, this));
    m_closeButton->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_closeButton, 0, Qt::AlignVCenter);

    QPalette barPalette = palette();
    barPalette.setColor(QPalette::Window, QColor(0, 189, 242, 255));
    setPalette(barPalette);
    setAutoFillBackground(true);

    hide();
}

void TitleWidget::setText(const QString& text)
{
    m_label->setText(text);
}

QString TitleWidget::text() const
{
    return m_label->text();
}
