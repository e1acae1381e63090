// The main of every GUI test binary: an offscreen QApplication with its settings and runtime
// folders in a fresh scratch folder, and the program's settings names and pictures.

#include "OfflineWeb.h"
#include "ScratchFolder.h"
#include "shell/KestrineResources.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testsupport::ScratchFolder scratch(testsupport::ScratchFolder::KeepTemporaryFolder);
    QApplication app(argc, argv);
    // The settings store the program itself uses, inside the scratch folder.
    QCoreApplication::setOrganizationName(QStringLiteral("OrlenthTech"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orlenthtech.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrine3"));
    initKestrineResources();
    testsupport::goOffline();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
