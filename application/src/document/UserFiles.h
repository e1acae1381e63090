#pragma once
// The one check made before a file the user named is opened for reading, whatever it is to
// become: an image, a project, a dropped file, a recent entry, a control file or its input, the
// image edited in place. Only a regular file (or a link to one) is read: a FIFO would hold the
// open until some writer came, a device may feed bytes without end, and a folder is no file.
//
// And the one way a file the user gets is finished: every write goes through a QSaveFile, and
// only a file whose every byte reached the disk replaces the earlier one.

#include <QString>

class QFileDevice;
class QSaveFile;

namespace userfiles {

// True when the file at `path` may be opened; otherwise false, and the refusal is logged with
// `what` the file was to be ("project", "dropped file") and the reason. A path that names
// nothing passes: opening it fails, and the opener reports that as it reports any file it
// cannot read.
bool mayOpen(const QString& path, const char* what);

// Writes out what the device still buffers. False when some of it did not reach the file; the
// device's error then names the system's reason ("File too large", "No space left on device").
bool flush(QFileDevice& file);

// Replaces the user's file by the one written into `file` when the writer wrote all of it
// (`written`) and every byte reached the file; else leaves the earlier file as it was, removes
// the new one and returns false with the device's reason in `reason` (what the caller put
// there stays when the device saw nothing wrong). QSaveFile::commit alone replaces the file
// even when the last bytes, still in the device's buffer, could not be written.
bool commit(QSaveFile& file, bool written, QString* reason);

} // namespace userfiles
