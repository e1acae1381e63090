#include "plugin_module.h"

#include <cstdio>

#include <dlfcn.h>

namespace {

std::vector<uint8_t> fourChars(const char* code)
{
    return {uint8_t(code[0]), uint8_t(code[1]), uint8_t(code[2]), uint8_t(code[3])};
}

std::vector<uint8_t> text(const std::string& characters)
{
    return std::vector<uint8_t>(characters.begin(), characters.end());
}

std::vector<uint8_t> name(const std::string& characters, uint8_t last)
{
    std::vector<uint8_t> bytes(characters.size() + 2);
    bytes[0] = uint8_t(characters.size() + 1);
    for (std::size_t i = 0; i < characters.size(); ++i)
        bytes[i + 1] = uint8_t(characters[i]);
    bytes.back() = last;
    return bytes;
}

std::vector<uint8_t> little32(uint32_t value)
{
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

std::string hexBytes(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char digits[4];
    for (const uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

} // namespace

const std::vector<ExpectedProperty>& expectedPropertyList()
{
    static const std::vector<ExpectedProperty> list = [] {
        std::vector<uint8_t> maxSize = little32(2000000);
        const std::vector<uint8_t> columns = little32(2000000);
        maxSize.insert(maxSize.end(), columns.begin(), columns.end());
        // Seven cases of input handling, output handling, flags1, flags2: straight data for
        // editable transparency only, and the host never copies the source first.
        std::vector<uint8_t> cases;
        for (const bool editable : {false, false, false, true, true, false, false}) {
            const uint8_t handling = editable ? 1 : 0;
            cases.insert(cases.end(), {handling, handling, 1, 0});
        }
        return std::vector<ExpectedProperty>{
            {kPropertyKind, fourChars("8BFM")},
            {kPropertyName, name("Kestrine 3", 0x85)},
            {kPropertyCategory, name("Orlenth", 0x99)},
            {kPropertyVersion, little32(0x00040000)},
            {kPropertyEntry, text("PluginMain")},
            {kPropertyModes, little32((1u << 3) | (1u << 4))},
            {kPropertyEnable, text("in(PSHOP_ImageMode, RGBMode, CMYKMode, RGB48Mode, CMYK64Mode)")},
            {kPropertyMaxSize, maxSize},
            {kPropertyFilterCases, cases},
        };
    }();
    return list;
}

std::string fourCharText(uint32_t code)
{
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned char c = static_cast<unsigned char>(code >> shift);
        if (c >= 0x20 && c < 0x7f) {
            out += char(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out;
}

PluginModule::~PluginModule()
{
    if (m_handle)
        dlclose(m_handle);
}

bool PluginModule::load(const std::string& path)
{
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* reason = dlerror();
        m_error = reason ? reason : "cannot open " + path;
        return false;
    }
    m_list = static_cast<const PropertyList*>(dlsym(m_handle, kPropertyListSymbol));
    return true;
}

std::vector<std::string> PluginModule::checkPropertyList() const
{
    std::vector<std::string> problems;
    if (!m_list) {
        problems.push_back(std::string("no ") + kPropertyListSymbol);
        return problems;
    }
    if (m_list->type != kPropertyListType)
        problems.push_back("type " + fourCharText(m_list->type));
    if (m_list->id != kPropertyListId)
        problems.push_back("id " + std::to_string(m_list->id));
    const std::vector<ExpectedProperty>& expected = expectedPropertyList();
    if (m_list->count != expected.size() || !m_list->records) {
        problems.push_back("count " + std::to_string(m_list->count) + ", expected " + std::to_string(expected.size()));
        return problems;
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const PropertyRecord& record = m_list->records[i];
        const std::string where = "record " + std::to_string(i) + " ";
        if (record.key != expected[i].key) {
            problems.push_back(where + fourCharText(record.key) + ", expected " + fourCharText(expected[i].key));
            continue;
        }
        const std::vector<uint8_t> bytes = record.bytes ? std::vector<uint8_t>(record.bytes, record.bytes + record.length)
                                                        : std::vector<uint8_t>();
        if (bytes != expected[i].bytes)
            problems.push_back(where + fourCharText(record.key) + " holds " + hexBytes(bytes) + ", expected "
                               + hexBytes(expected[i].bytes));
    }
    return problems;
}

std::vector<uint8_t> PluginModule::property(uint32_t key) const
{
    if (!m_list || !m_list->records)
        return {};
    for (uint32_t i = 0; i < m_list->count; ++i) {
        const PropertyRecord& record = m_list->records[i];
        if (record.key == key && record.bytes)
            return std::vector<uint8_t>(record.bytes, record.bytes + record.length);
    }
    return {};
}

PluginEntryProc PluginModule::entry() const
{
    const std::vector<uint8_t> name = property(kPropertyEntry);
    if (!m_handle || name.empty())
        return nullptr;
    return reinterpret_cast<PluginEntryProc>(dlsym(m_handle, std::string(name.begin(), name.end()).c_str()));
}
