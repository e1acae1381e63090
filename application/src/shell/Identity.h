#pragma once
// Who the program says it is: the names of its settings store, the maker's address for
// problem reports, the version line of the log and the About box, and the maker's web pages.

#include <QString>

// "OrlenthTech", the organisation of the settings store.
QString organizationName();
// "orlenthtech.example", the maker's web domain.
QString organizationDomain();
// "Kestrine3": the settings store's application name and the log folder's name.
QString applicationName();
// Where users send problem reports.
QString supportAddress();
// "3.3.8".
QString versionNumber();
// The git revision the program was built from, or "unknown" (written in by the build).
QString sourceRevision();
// "Version: 3.3.8 (<revision>); Linux".
QString versionLine();

// "current": the web folder of the version and download pages.
QString currentFolderName();
// "ks_3": the stem of the version, download and news pages.
QString editionKey();
// The maker's web site, "http://www.orlenthtech.example" (a reserved name: nothing real is
// ever contacted) unless a test set another.
QString webRoot();
// Tests only: another web root; an empty one restores the maker's.
void setWebRoot(const QString& root);
// The web root + "/" + the path.
QString webPageUrl(const QString& path);
