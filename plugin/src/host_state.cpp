#include "tunnelry/host_state.h"

namespace {

FilterRecord* g_filterRecord = nullptr;
SPBasicSuite* g_basicSuite = nullptr;

} // namespace

FilterRecord* currentFilterRecord()
{
    return g_filterRecord;
}

void setCurrentFilterRecord(FilterRecord* record)
{
    g_filterRecord = record;
}

SPBasicSuite* hostBasicSuite()
{
    return g_basicSuite;
}

void setHostBasicSuite(SPBasicSuite* suite)
{
    g_basicSuite = suite;
}

void clearFilterRectangles(FilterRecord* record, bool with32Bit)
{
    if (!record)
        return;
    record->inRect = Rect{};
    record->outRect = Rect{};
    record->maskRect = Rect{};
    if (with32Bit && record->bigDocumentData) {
        record->bigDocumentData->inRect32 = VRect{};
        record->bigDocumentData->outRect32 = VRect{};
        record->bigDocumentData->maskRect32 = VRect{};
    }
}

bool usesBigCoordinates(const FilterRecord& record)
{
    return record.bigDocumentData && record.bigDocumentData->PluginUsing32BitCoordinates != 0;
}
