// Arbitrary settings files and directory names through the whole job.
// Input: one byte each for the lengths of the Windows and the current
// directory (doubled, so paths can outgrow MAX_PATH), then those two
// texts, then the bytes of kvconfig.txt.
#include <stddef.h>
#include <stdint.h>

#include "fakewin.h"
#include "job.h"

static std::string Take(const uint8_t *&data, size_t &size, size_t length)
{
    length = length < size ? length : size;
    std::string text(reinterpret_cast<const char *>(data), length);
    data += length;
    size -= length;
    return text;
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
    std::string windows = Take(data, size, windowsLength);
    fake::world.windowsDirectory = windows;
    fake::world.currentDirectory = Take(data, size, currentLength);
    fake::world.directories = {windows + "\\kvinst"};
    fake::world.files[windows + "\\kvinst\\kvconfig.txt"] = Take(data, size, size);
    fake::Device controller;
    controller.hardwareIds = std::string("PCI\\VEN_1D5B&DEV_4F17", 22) + '\0';
    fake::world.devices.push_back(controller);

    ConfigureDevice();

    // Only the two documented ranges may ever reach the registry.
    bool rangesKept = SmEnableValue <= 1 && SdSwitchValue <= 3;
    bool released = !fake::world.openKeys && !fake::world.openSets && !fake::world.liveBuffers &&
                    !fake::world.openFiles;
    if (!rangesKept || !released)
        __builtin_trap();
    return 0;
}
