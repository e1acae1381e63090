#include "panels/Slider.h"

#include <QBoxLayout>
#include <QIcon>
#include <QMetaMethod>
#include <QSlider>
#include <QToolButton>

Slider::Slider(QWidget* parent)
    : QWidget(parent),
      m_slider(new QSlider(Qt::Horizontal, this)),
      m_layout(new QBoxLayout(QBoxLayout::LeftToRight, this))
{
    m_layout->setObjectName(QStringLiteral("Slider::layout_"));
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->addWidget(m_slider, 1);
}

void Slider::setNudgeButtons(const QPixmap& down, const QPixmap& up)
{
    delete m_downButton;
    delete m_upButton;
    m_downButton = makeNudgeButton(down);
    m_upButton = makeNudgeButton(up);
    m_layout->insertWidget(0, m_downButton);
    m_layout->addWidget(m_upButton);
    connect(m_downButton, &QToolButton::clicked, this, &Slider::nudgeDown);
    connect(m_upButton, &QToolButton::clicked, this, &Slider::nudgeUp);
}

void Slider::setNudgeToolTips(const QString& down, const QString& up)
{
    if (m_downButton)
        m_downButton->setToolTip(down);
    if (m_upButton)
        m_upButton->setToolTip(up);
}

void Slider::nudgeUp()
{
    if (isSignalConnected(QMetaMethod::fromSignal(&Slider::requestNudgeUp)))
        emit requestNudgeUp();
    else
        m_slider->setValue(m_slider->value() + m_slider->singleStep());
}

void Slider::nudgeDown()
{
    if (isSignalConnected(QMetaMethod::fromSignal(&Slider::requestNudgeDown)))
        emit requestNudgeDown();
    else
        m_slider->setValue(m_slider->value() - m_slider->singleStep());
}

QToolButton* Slider::makeNudgeButton(const QPixmap& pixmap)
{
    auto* button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setAutoRepeat(true);
    button->setIcon(QIcon(pixmap));
    if (!pixmap.isNull())
        button->setIconSize(pixmap.size());
    return button;
}
