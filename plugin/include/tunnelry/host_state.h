#pragma once
// What the plug-in keeps of the host between the calls of one filter run: the current
// parameter block and the host's basic suite. Everything runs on the host's thread.

#include "tunnelry/host_interface.h"

// The FilterRecord of the latest non-About call, or nullptr.
FilterRecord* currentFilterRecord();
void setCurrentFilterRecord(FilterRecord* record);

// The host's basic suite during a call (set at its start, cleared at its end), or nullptr.
SPBasicSuite* hostBasicSuite();
void setHostBasicSuite(SPBasicSuite* suite);

// Empties inRect, outRect and maskRect, and their 32-bit forms when `with32Bit` and the host
// has them, so that the host asks for no more pixels. A null record is left alone.
void clearFilterRectangles(FilterRecord* record, bool with32Bit);

// True when the plug-in reads and writes the 32-bit rectangles of this record.
bool usesBigCoordinates(const FilterRecord& record);
