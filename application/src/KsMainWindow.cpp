#include "KsMainWindow.h"

#include "Klogger.h"
#include "KsApp.h"
#include "Texts.h"

namespace {

KsMainWindow* g_mainWindow = nullptr;

} // namespace

KsMainWindow::KsMainWindow() : QMainWindow(nullptr)
{
    // The tools and prompts reach the window through this while it is being built.
    g_mainWindow = this;

    setWindowTitle(productName());
    setAttribute(Qt::WA_DeleteOnClose, true);
    setIconSize(QSize(24, 24));

    // The problem report needs the window as the owner of its box.
    if (Klogger* logger = Klogger::instance())
        logger->reportProblems(this);
}

KsMainWindow::~KsMainWindow()
{
    if (g_mainWindow == this)
        g_mainWindow = nullptr;
}

KsMainWindow* KsMainWindow::instance()
{
    return g_mainWindow;
}

void KsMainWindow::aboutSlot()
{
    KsApp::about(this);
}
