#pragma once
// Who the program says it is: the names of its settings store, the maker's address for
// problem reports, and the version line of the log and the About box.

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
