// Arbitrary settings files and directory names through the whole job,
// checked against a model of the settings format written apart from the
// reader. Input: one byte each for the lengths of the Windows and the
// current directory (doubled, so paths can outgrow MAX_PATH), then those two
// texts, then the bytes of kvconfig.txt.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <tuple>

#include "fakewin.h"
#include "job.h"
#include "crt_redirect.h"

namespace {

std::string Take(const uint8_t *&data, size_t &size, size_t length)
{
    length = length < size ? length : size;
    std::string text(reinterpret_cast<const char *>(data), length);
    data += length;
    size -= length;
    return text;
}

using Entry = std::tuple<int, long long, int>;   // ID, offset after it, value

// Text as the settings format means it: CR LF is one line feed, every other
// byte stands for itself, offsets count file bytes.
int TextByte(const std::string &bytes, long long &at)
{
    if (at >= static_cast<long long>(bytes.size()))
        return EOF;
    unsigned char c = bytes[at++];
    if (c == '\r' && at < static_cast<long long>(bytes.size()) && bytes[at] == '\n')
        c = bytes[at++];
    return c;
}

// Every entry to the end of the file: a colon, its ID and, for IDs '1' and
// '2', the byte nine file bytes after the ID. The value is consumed, so a
// colon there starts nothing; the skipped bytes are never looked at.
std::vector<Entry> ModelEntries(const std::string &bytes)
{
    std::vector<Entry> entries;
    long long at = 0;
    for (int c; (c = TextByte(bytes, at)) != EOF;) {
        if (c != ':')
            continue;
        int id = TextByte(bytes, at);
        long long idEnd = at;
        int value = NoEntryValue;
        if (id == '1' || id == '2') {
            at = idEnd + 9;
            value = TextByte(bytes, at);
        }
        entries.emplace_back(id, idEnd, value);
        if (id == EOF || value == EOF)
            break;
    }
    return entries;
}

// The refusal quillset must give, or NULL for a file it reads.
const char *ModelRefusal(const std::string &bytes)
{
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)
        return "The file 'kvconfig.txt' is UTF-16 text: save it as ANSI text \n";
    for (size_t i = 0; i < bytes.size(); i++)
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            return "The file 'kvconfig.txt' has a line end without CR: save it with CR LF line ends \n";
    if (bytes.find('\x1A') != std::string::npos)
        return "The file 'kvconfig.txt' holds a Ctrl-Z byte: remove it \n";
    return NULL;
}

// The DWORD stored under name, or a value no setting has.
DWORD Registry(const char *name)
{
    const fake::Value &value = fake::world.values[name];
    DWORD data = ~0u;
    if (value.type == REG_DWORD && value.data.size() == sizeof data)
        memcpy(&data, value.data.data(), sizeof data);
    return data;
}

int Collect(void *context, int id, long long idEnd, int value)
{
    static_cast<std::vector<Entry> *>(context)->emplace_back(id, idEnd, value);
    return 1;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    size_t windowsLength = data[0] * 2u;
    size_t currentLength = data[1] * 2u;
    data += 2;
    size -= 2;

    fake::Reset();
    SmEnableChar = SdHostChar = 0;
    SmEnableValue = SdSwitchValue = 0;
    std::string windows = Take(data, size, windowsLength);
    fake::world.windowsDirectory = windows;
    fake::world.currentDirectory = Take(data, size, currentLength);
    fake::world.directories = {windows + "\\kvinst"};
    std::string bytes = Take(data, size, size);
    fake::world.files[windows + "\\kvinst\\kvconfig.txt"] = bytes;
    fake::Device controller;
    controller.hardwareIds = std::string("PCI\\VEN_1D5B&DEV_4F17", 22) + '\0';
    fake::world.devices.push_back(controller);

    ConfigureDevice();

    bool released = !fake::world.openKeys && !fake::world.openSets && !fake::world.liveBuffers &&
                    !fake::world.openFiles;

    // The file is reached through a path that fits MAX_PATH and that a NUL
    // does not cut short.
    bool reached = !windows.empty() && windows.find('\0') == std::string::npos &&
                   windows.size() + sizeof "\\kvinst" <= MAX_PATH;
    const char *refusal = ModelRefusal(bytes);
    std::vector<std::string> log = fake::Messages();
    bool refusalSaid = refusal && std::find(log.begin(), log.end(), refusal) != log.end();
    bool refusalRight = refusalSaid == (reached && refusal);

    // The last ID '1' before the first ID '2' counts; nothing after it does.
    std::vector<Entry> entries = ModelEntries(bytes);
    auto sd = std::find_if(entries.begin(), entries.end(), [](const Entry &e) { return std::get<0>(e) == '2'; });
    int sm = EOF;
    for (auto e = entries.begin(); e != sd; ++e)
        if (std::get<0>(*e) == '1')
            sm = std::get<2>(*e);
    bool written = reached && !refusal && sd != entries.end();
    DWORD smEnable = sm == '0' ? 0 : 1;
    DWORD sdSwitch = 0;
    if (written && std::get<2>(*sd) >= '1' && std::get<2>(*sd) <= '3')
        sdSwitch = std::get<2>(*sd) - '0';
    bool valuesRight = fake::world.values.size() == (written ? 2u : 0u) &&
                       (!written || (Registry("SMEnable") == smEnable && Registry("SDSwitch") == sdSwitch));

    // The reader watched to the end of the file sees the model's entries.
    fake::world.files["C:\\kvconfig.txt"] = bytes;
    FILE *file = FakeFopen("C:\\kvconfig.txt", "rb");
    std::vector<Entry> seen;
    int found = ScanSettings(file, Collect, &seen);
    FakeFclose(file);
    bool entriesRight = seen == entries && found == (sd != entries.end());

    if (!released || !refusalRight || !valuesRight || !entriesRight)
        __builtin_trap();
    return 0;
}
