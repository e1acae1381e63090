#include "KsAppStandAlone.h"

KsAppStandAlone::KsAppStandAlone(LaunchMode mode) : KsApp(mode) {}

KsAppStandAlone::~KsAppStandAlone()
{
    handBack();
}

void KsAppStandAlone::init(int& argc, char** argv)
{
    KsApp::init(argc, argv);
    switch (launchMode()) {
    case LaunchTunnel:
        // The plug-in's hand-over is taken here.
        break;
    case LaunchXmlTunnel:
        // The control file's image is read here.
        break;
    case LaunchAperture:
        // The image file to edit in place is read here.
        break;
    case LaunchStandalone:
        break;
    }
    createMainWindow();
}

void KsAppStandAlone::handBack()
{
    // Each host launch writes its result back here; a stand-alone run has nothing to hand.
}
