#pragma once
// A reseller's customisation, read once from two files beside the program: "distributor.xml"
// switches the home-page link, the news check and the update check, names the reseller's web
// folder and adds a text to the About box; "distributor.png" is the About box's logo. A missing
// or faulty file leaves the built-in defaults in force.

#include <QImage>
#include <QPixmap>
#include <QString>

struct DistributorRecord {
    QString id;
    QString aboutBoxText;
    bool latestNews = true;
    bool homePage = true;
    bool checkForUpdates = true;
    QString supportEmail;
    // Kept as an image: the record outlives the GUI application, which pixmaps must not.
    QImage logo;
    QString logoPath;
    QString filePath;
    // False after a file with errors, whose settings are then ignored as a whole.
    bool valid = true;
    // The error lines, each ending in a line break.
    QString errors;

    // Reads "distributor.png" and "distributor.xml" in the folder. Logs the errors of a
    // faulty file; a missing file is no error and logs nothing.
    static DistributorRecord load(const QString& folder);
};

// The process's record, read on the first call from the folder set below, else from the
// program's folder; later calls return the same record.
const DistributorRecord& distributorRecord();
// Tests only: the folder that distributorRecord() reads from now on; the record read so far is
// dropped, so a test never writes into the program's own folder.
void setDistributorFolder(const QString& folder);

QString distributorId();
QString distributorAboutText();
// Null without a readable logo.
QPixmap distributorLogo();
