#include "platform/settings_file.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace platform {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x110000) {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Keys and section names: "%XX" a byte, "%UXXXX" a character, "\" the group separator "/".
std::string unescapedKey(const std::string& text)
{
    std::string key;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            key += '/';
        } else if (c == '%' && i + 5 < text.size() && text[i + 1] == 'U' && hexValue(text[i + 2]) >= 0
                   && hexValue(text[i + 3]) >= 0 && hexValue(text[i + 4]) >= 0 && hexValue(text[i + 5]) >= 0) {
            unsigned long code = 0;
            for (int k = 2; k <= 5; ++k)
                code = code * 16 + hexValue(text[i + k]);
            appendUtf8(key, code);
            i += 5;
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            key += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            key += c;
        }
    }
    return key;
}

// The value's text up to a comment (";" outside quotes).
std::string withoutComment(const std::string& text)
{
    bool inQuotes = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            inQuotes = !inQuotes;
        else if (text[i] == ';' && !inQuotes)
            return text.substr(0, i);
    }
    return text;
}

// Reads a stored value: blanks around unquoted text dropped, quoted spans kept as they are,
// C-style escapes, and an unquoted comma making a list. Returns false for a list.
bool unescapedValue(const std::string& text, std::string& value)
{
    std::string current;
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    std::size_t keep = 0; // trailing blanks are dropped only beyond this length
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text[i]))
            ++i;
    };
    auto chopBlanks = [&] {
        while (current.size() > keep && isBlank(current.back()))
            current.pop_back();
    };

    skipBlanks();
    while (i < n) {
        const char c = text[i];
        if (c == '\\') {
            if (++i >= n)
                break;
            const char e = text[i++];
            switch (e) {
            case 'a': current += '\a'; break;
            case 'b': current += '\b'; break;
            case 'f': current += '\f'; break;
            case 'n': current += '\n'; break;
            case 'r': current += '\r'; break;
            case 't': current += '\t'; break;
            case 'v': current += '\v'; break;
            case '"': case '?': case '\'': case '\\': current += e; break;
            case 'x': {
                unsigned long code = 0;
                bool any = false;
                while (i < n && hexValue(text[i]) >= 0) {
                    code = (code << 4) | unsigned(hexValue(text[i++]));
                    any = true;
                    if (code > 0x10FFFF)
                        code = 0x110000; // out of range: dropped below, digits still consumed
                }
                if (any)
                    appendUtf8(current, code);
                break;
            }
            case '\n':
            case '\r':
                // A line continued on the next one.
                if (i < n && (text[i] == '\n' || text[i] == '\r') && text[i] != e)
                    ++i;
                break;
            default:
                if (e >= '0' && e <= '7') {
                    unsigned long code = unsigned(e - '0');
                    while (i < n && text[i] >= '0' && text[i] <= '7') {
                        code = (code << 3) | unsigned(text[i++] - '0');
                        if (code > 0x10FFFF)
                            code = 0x110000;
                    }
                    appendUtf8(current, code);
                }
                // Any other escaped character is dropped.
                break;
            }
            keep = current.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                keep = current.size();
                skipBlanks();
            }
        } else if (c == ',' && !inQuotes) {
            isList = true;
            current.clear();
            keep = 0;
            quoted = false;
            ++i;
            skipBlanks();
        } else {
            current += c;
            ++i;
        }
    }
    if (!quoted)
        chopBlanks();
    if (isList)
        return false;
    value = std::move(current);
    return true;
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Stored types other than text are written as "@Type(...)"; "@@" escapes a leading "@".
bool storedString(std::string& value)
{
    if (value.empty() || value[0] != '@')
        return true;
    if (startsWith(value, "@@")) {
        value.erase(0, 1);
        return true;
    }
    if (value == "@Invalid()")
        return false;
    if (value.back() == ')') {
        if (startsWith(value, "@ByteArray(")) {
            value = value.substr(11, value.size() - 12);
            return true;
        }
        for (const char* type : {"@String(", "@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("})
            if (startsWith(value, type))
                return false;
    }
    return true;
}

// Logical lines: a line ending in an escaping backslash goes on in the next one.
std::vector<std::string> logicalLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::string line;
    bool continued = false;
    std::size_t i = 0;
    while (i <= content.size()) {
        std::size_t end = content.find_first_of("\r\n", i);
        if (end == std::string::npos)
            end = content.size();
        std::string physical = content.substr(i, end - i);
        std::size_t next = end;
        if (next < content.size()) {
            ++next;
            if (next < content.size() && (content[next] == '\r' || content[next] == '\n') && content[next] != content[end])
                ++next;
        }
        if (continued)
            line += '\n';
        line += physical;
        std::size_t backslashes = 0;
        while (backslashes < line.size() && line[line.size() - 1 - backslashes] == '\\')
            ++backslashes;
        continued = backslashes % 2 == 1 && end < content.size();
        if (!continued) {
            lines.push_back(std::move(line));
            line.clear();
        }
        if (end >= content.size())
            break;
        i = next;
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

} // namespace

SettingLookup readSettingsValue(const std::string& filePath, const std::string& key,
                                std::size_t bufferBytes)
{
    SettingLookup lookup;
    errno = 0;
    std::ifstream file(filePath, std::ios::binary);
    if (!file) {
        lookup.code = (errno == EACCES || errno == EPERM) ? kSettingUnreadable : kSettingMissing;
        return lookup;
    }
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        return lookup;

    bool inGeneral = true;
    bool found = false;
    std::string raw;
    for (const std::string& line : logicalLines(content)) {
        const std::string text = trimmed(line);
        if (text.empty() || text[0] == ';' || text[0] == '#')
            continue;
        if (text[0] == '[') {
            const std::size_t close = text.find(']');
            const std::string section = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            // "[General]" is the top level; a group really named General is written "%General".
            inGeneral = section == "General";
            continue;
        }
        const std::size_t equals = text.find('=');
        if (!inGeneral || equals == std::string::npos)
            continue;
        if (unescapedKey(trimmed(text.substr(0, equals))) == key) {
            // The last entry of a key wins, as when the file is loaded whole.
            raw = withoutComment(text.substr(equals + 1));
            found = true;
        }
    }
    if (!found)
        return lookup;

    lookup.code = kSettingFound;
    std::string value;
    if (!unescapedValue(raw, value) || !storedString(value))
        return lookup;
    lookup.isString = true;
    if (value.size() + 1 > bufferBytes) {
        lookup.code = kSettingTooLong;
        return lookup;
    }
    lookup.value = std::move(value);
    return lookup;
}

std::string systemConfigFolder()
{
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    if (dirs && *dirs) {
        const std::string list(dirs);
        const std::string first = list.substr(0, list.find(':'));
        if (!first.empty())
            return first;
    }
    return "/etc/xdg";
}

std::string applicationSystemSettingsPath()
{
    std::string folder = systemConfigFolder();
    if (folder.back() != '/')
        folder += '/';
    return folder + "OrlenthTech/Kestrine3.conf";
}

SettingLookup applicationExecutableSetting()
{
    return readSettingsValue(applicationSystemSettingsPath(), "Exe", 260);
}

} // namespace platform
