#pragma once
// Whether a JPEG file holds the data of its whole picture, as libjpeg decodes it.

class QIODevice;

// Decodes the JPEG read from `device` (at an eighth of its size: what is checked is the coded
// data, not the pixels) and returns true when the data ends before the picture does: the
// decoder ran out of it inside a scan, or a scan never came (a component of a file that sends
// them one by one, a refinement of a progressive file). A file lacking nothing but its end
// marker is whole. True too when libjpeg cannot tell: for arithmetic coding, whose decoder
// says nothing when its data runs out, and for data it fails on.
bool jpegDataEndsEarly(QIODevice& device);
