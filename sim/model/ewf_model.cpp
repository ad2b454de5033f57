#include "sim/model/ewf_model.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace sim
{

WString Widen(const std::string &text)
{
    WString result;
    for (unsigned char c : text) {
        result += (WCHAR)c;
    }
    return result;
}

std::string Narrow(const WString &text)
{
    std::string result;
    for (WCHAR c : text) {
        result += c < 0x80 ? (char)c : '?';
    }
    return result;
}

std::string Hex(unsigned long long value)
{
    char text[32];
    snprintf(text, sizeof text, "0x%llX", value);
    return text;
}

World &TheWorld()
{
    static World world;
    return world;
}

void ResetWorld()
{
    World &world = TheWorld();
    for (auto &entry : world.entries) {
        free(entry.first);
    }
    world = World();
}

Volume &AddVolume(const std::string &name, WCHAR driveLetter, LONGLONG ramDataSize)
{
    Volume volume;
    volume.name = Widen(name);
    volume.driveLetter = driveLetter;
    volume.ramDataSize = ramDataSize;
    TheWorld().volumes.push_back(volume);
    return TheWorld().volumes.back();
}

Volume *FindVolume(const WString &name)
{
    for (Volume &volume : TheWorld().volumes) {
        if (volume.name == name) {
            return &volume;
        }
    }
    return nullptr;
}

bool ShouldFail(const char *api, const Volume *volume, DWORD *error)
{
    bool fail = false;
    for (Failure &rule : TheWorld().failures) {
        if (rule.api != api) {
            continue;
        }
        if (!rule.volume.empty() && (volume == nullptr || Narrow(volume->name) != rule.volume)) {
            continue;
        }
        ++rule.seen;
        if (!fail && (rule.nth == 0 || rule.nth == rule.seen)) {
            fail = true;
            *error = rule.error;
        }
    }
    return fail;
}

void AdvanceTime(unsigned milliseconds)
{
    for (Volume &volume : TheWorld().volumes) {
        if (volume.state == EWF_ENABLED && volume.type != EWF_DISK) {
            volume.ramDataSize += volume.growthPerSecond * (LONGLONG)milliseconds / 1000;
        }
    }
}

size_t OutstandingEntries()
{
    return TheWorld().entries.size();
}

size_t OutstandingLists()
{
    std::set<unsigned> lists;
    for (auto &entry : TheWorld().entries) {
        lists.insert(entry.second);
    }
    return lists.size();
}

size_t OutstandingHandles()
{
    return TheWorld().handles.size();
}

} // namespace sim
