#pragma once
// A tool for tests: it logs its activations and deactivations with the tool on the other
// side, works in the tabs it is given and has a label as its options widget. Deactivation
// clears the widget's object name, so that a log line shows whether the options strip has
// shown the widget since.

#include "tools/GmTool.h"

#include <QLabel>
#include <QStringList>

namespace testsupport {

class RecordingTool : public GmTool {
public:
    struct Options {
        ImageView::ViewTabs tabs = ImageView::Workspace;
        ImageView::ViewTab home = ImageView::Workspace;
        QString shortcut;
        QIcon icon;
        ToolOptions* toolOptions = nullptr;
        bool clearsHighlight = true;
        // When given, availability follows it instead of the image.
        const bool* available = nullptr;
    };

    RecordingTool(const QString& name, QStringList* log, const Options& options)
        : GmTool(name, name, options.icon, options.shortcut, QString(), nullptr, nullptr, nullptr,
                 options.toolOptions),
          m_log(log), m_options(options)
    {
        setOptionsWidget(new QLabel(name));
        setEnabledSlot();
    }
    RecordingTool(const QString& name, QStringList* log) : RecordingTool(name, log, Options()) {}

    static QString nameOf(const GmTool* tool) { return tool ? tool->name() : QStringLiteral("none"); }

    void activate(GmTool* previous) override
    {
        if (m_log)
            m_log->append(QStringLiteral("activate(%1) options=%2").arg(nameOf(previous), optionsName()));
    }
    void deactivate(GmTool* next) override
    {
        if (m_log)
            m_log->append(QStringLiteral("deactivate(%1)").arg(nameOf(next)));
        if (optionsWidget())
            optionsWidget()->setObjectName(QString());
    }
    ImageView::ViewTabs usableViewTabs() const override { return m_options.tabs; }
    ImageView::ViewTab homeViewTab() const override { return m_options.home; }
    bool clearsColourHighlight() const override { return m_options.clearsHighlight; }
    bool isAvailable() const override
    {
        return m_options.available ? *m_options.available : GmTool::isAvailable();
    }

    QString optionsName() const { return optionsWidget() ? optionsWidget()->objectName() : QStringLiteral("-"); }
    using GmTool::clearButtonStates;

private:
    QStringList* m_log;
    Options m_options;
};

} // namespace testsupport
