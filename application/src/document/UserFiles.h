#pragma once
// The one check made before a file the user named is opened for reading, whatever it is to
// become: an image, a project, a dropped file, a recent entry, a control file or its input, the
// image edited in place. Only a regular file (or a link to one) is read: a FIFO would hold the
// open until some writer came, a device may feed bytes without end, and a folder is no file.

#include <QString>

namespace userfiles {

// True when the file at `path` may be opened; otherwise false, and the refusal is logged with
// `what` the file was to be ("project", "dropped file") and the reason. A path that names
// nothing passes: opening it fails, and the opener reports that as it reports any file it
// cannot read.
bool mayOpen(const QString& path, const char* what);

} // namespace userfiles
