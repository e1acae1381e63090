#pragma once
// Region outlines as a session publishes them to the client: one record per polyline, the
// points column first. The session owns the records and their points.

extern "C" {

typedef struct DvOutlinePoint {
    float column;  // along the second array index
    float row;     // along the first array index
} DvOutlinePoint;

typedef struct DvOutline {
    DvOutlinePoint* points;
    int count;
    int reserved;  // always 0
} DvOutline;

} // extern "C"
