// The property list the host reads before it offers the filter: a filter for RGB and CMYK
// layers (8 and 16 bits) with editable transparency, taking straight data.

#include "tunnelry/plugin_main.h"

namespace {

constexpr uint8_t kKind[] = {'8', 'B', 'F', 'M'};
// "Kestrine 3" and an ellipsis; "Orlenth" and a trade-mark sign (the host's character set).
constexpr uint8_t kName[] = {11, 'K', 'e', 's', 't', 'r', 'i', 'n', 'e', ' ', '3', 0x85};
constexpr uint8_t kCategory[] = {8, 'O', 'r', 'l', 'e', 'n', 't', 'h', 0x99};
// Interface version 4.0.
constexpr uint8_t kVersion[] = {0x00, 0x00, 0x04, 0x00};
constexpr char kEntry[] = "PluginMain";
constexpr uint32_t kModeMask = (1u << kImageModeRGB) | (1u << kImageModeCMYK);
constexpr uint8_t kModes[] = {uint8_t(kModeMask), uint8_t(kModeMask >> 8), uint8_t(kModeMask >> 16),
                              uint8_t(kModeMask >> 24)};
constexpr char kEnable[] = "in(PSHOP_ImageMode, RGBMode, CMYKMode, RGB48Mode, CMYK64Mode)";
// 2,000,000 rows by 2,000,000 columns.
constexpr uint8_t kMaxSize[] = {0x80, 0x84, 0x1e, 0x00, 0x80, 0x84, 0x1e, 0x00};
static_assert(0x001e8480 == 2000000, "maximum size");

constexpr uint8_t kCannot = kCaseHandlingCannotFilter;
constexpr uint8_t kStraight = kCaseHandlingStraightData;
constexpr uint8_t kNoCopy = kCaseFlagDontCopyToDestination;
// Only layers with editable transparency are filtered; the host never pre-fills the output.
constexpr uint8_t kFilterCases[kFilterCaseCount * 4] = {
    kCannot,   kCannot,   kNoCopy, 0, // flat image, no selection
    kCannot,   kCannot,   kNoCopy, 0, // flat image with selection
    kCannot,   kCannot,   kNoCopy, 0, // floating selection
    kStraight, kStraight, kNoCopy, 0, // editable transparency, no selection
    kStraight, kStraight, kNoCopy, 0, // editable transparency with selection
    kCannot,   kCannot,   kNoCopy, 0, // protected transparency, no selection
    kCannot,   kCannot,   kNoCopy, 0, // protected transparency with selection
};

const uint8_t* bytesOf(const char* text)
{
    return reinterpret_cast<const uint8_t*>(text);
}

const PropertyRecord kRecords[] = {
    {kPropertyKind, sizeof kKind, kKind},
    {kPropertyName, sizeof kName, kName},
    {kPropertyCategory, sizeof kCategory, kCategory},
    {kPropertyVersion, sizeof kVersion, kVersion},
    {kPropertyEntry, sizeof kEntry - 1, bytesOf(kEntry)},
    {kPropertyModes, sizeof kModes, kModes},
    {kPropertyEnable, sizeof kEnable - 1, bytesOf(kEnable)},
    {kPropertyMaxSize, sizeof kMaxSize, kMaxSize},
    {kPropertyFilterCases, sizeof kFilterCases, kFilterCases},
};

} // namespace

extern "C" const PropertyList PluginPropertyList = {
    kPropertyListType,
    kPropertyListId,
    sizeof kRecords / sizeof kRecords[0],
    kRecords,
};
