#include "panels/EmptyOptionsWidget.h"

#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>

QWidget* createEmptyOptionsWidget()
{
    static QPointer<QWidget> page;
    if (!page) {
        page = new QWidget;
        page->setObjectName(QStringLiteral("EmptyOptionsWidget"));
        auto* layout = new QVBoxLayout(page);
        layout->addStretch();
    }
    return page;
}
