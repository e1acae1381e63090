#pragma once
// The test host's side of loading the plug-in: the library opened by path, its property list
// checked against what the plug-in must declare, and the entry point found by the name the
// list gives.

#include "tunnelry/host_interface.h"

#include <cstdint>
#include <string>
#include <vector>

struct ExpectedProperty {
    uint32_t key;
    std::vector<uint8_t> bytes;
};

// The property list the plug-in must export, record by record in its order, written out here
// independently of the plug-in's own sources.
const std::vector<ExpectedProperty>& expectedPropertyList();

// "kind" for a key; non-printable characters as "\xNN".
std::string fourCharText(uint32_t code);

class PluginModule {
public:
    PluginModule() = default;
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // Opens the library with every symbol bound at once; false with error() otherwise.
    bool load(const std::string& path);
    bool isLoaded() const { return m_handle != nullptr; }
    const std::string& error() const { return m_error; }

    // The exported list, or nullptr when the library has none.
    const PropertyList* propertyList() const { return m_list; }
    // Every difference from expectedPropertyList(), one text each; empty when the lists agree
    // byte for byte, type, id and order included.
    std::vector<std::string> checkPropertyList() const;
    // The bytes of a record, empty when the list has none of that key.
    std::vector<uint8_t> property(uint32_t key) const;

    // The entry point named by the list's entry record, or nullptr.
    PluginEntryProc entry() const;

private:
    void* m_handle = nullptr;
    const PropertyList* m_list = nullptr;
    std::string m_error;
};
