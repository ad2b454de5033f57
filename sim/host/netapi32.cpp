// NETAPI32 of the machine the installation check looks at, reached through
// GetProcAddress: the local groups of an account.
#include <stdlib.h>
#include <algorithm>
#include <string.h>

#include "sim/host/machine.h"

#include "platform/netapi32.h"

using namespace fake::detail;

namespace fake
{
namespace machine
{

// A block of the platform's, freed by NetApiBufferFree.
static unsigned char *Block(size_t size)
{
    unsigned char *block = (unsigned char *)calloc(1, size + 1);
    std::lock_guard<std::mutex> guard(M().lock);
    M().netBuffers.insert(block);
    return block;
}

DWORD WINAPI FakeNetUserGetLocalGroups(LPCWSTR server, LPCWSTR user, DWORD level, DWORD flags,
                                       BYTE **buffer, DWORD, LPDWORD read, LPDWORD total)
{
    sim::SimBeforeCall("NetUserGetLocalGroups");
    std::string name = sim::Narrow(user != nullptr ? user : u"");
    std::string args = std::string(server == nullptr ? "local" : "remote") + ", " + name + ", " +
                       std::to_string(level) + ", " + std::to_string(flags);
    DWORD error = 0;
    *buffer = nullptr;
    if (sim::ShouldFail("NetUserGetLocalGroups", nullptr, &error)) {
        Log("NetUserGetLocalGroups", args, "error " + std::to_string(error));
        return error;
    }
    // The account by "DOMAIN\name"; Administrators holds it directly, or
    // (indirect) through a global group it is in.
    const Account *account = nullptr;
    std::string sid;
    for (const auto &known : M().accounts) {
        if (Lower(known.second.domain + "\\" + known.second.name) == Lower(name)) {
            account = &known.second;
            sid = known.first;
        }
    }
    if (level != 0 || account == nullptr) {
        Log("NetUserGetLocalGroups", args, "no such user");
        return 2221; // NERR_UserNotFound
    }
    std::vector<std::string> via = {sid};
    if ((flags & LG_INCLUDE_INDIRECT) != 0) {
        via.insert(via.end(), account->groups.begin(), account->groups.end());
    }
    bool member = false;
    for (const std::string &admin : M().administrators) {
        member |= std::find(via.begin(), via.end(), admin) != via.end();
    }
    // Users always; Administrators when a member.
    std::vector<std::u16string> groups = {u"Users"};
    if (member) {
        groups.push_back(u"Administrators");
    }
    size_t size = groups.size() * sizeof(LOCALGROUP_USERS_INFO_0);
    for (const std::u16string &group : groups) {
        size += 2 * (group.size() + 1);
    }
    unsigned char *block = Block(size);
    LOCALGROUP_USERS_INFO_0 *records = (LOCALGROUP_USERS_INFO_0 *)block;
    unsigned char *next = block + groups.size() * sizeof(LOCALGROUP_USERS_INFO_0);
    for (size_t i = 0; i < groups.size(); ++i) {
        memcpy(next, groups[i].c_str(), 2 * (groups[i].size() + 1));
        records[i].Name = (WCHAR *)next;
        next += 2 * (groups[i].size() + 1);
    }
    *buffer = block;
    *read = *total = (DWORD)groups.size();
    Log("NetUserGetLocalGroups", args, member ? "Administrators" : "not Administrators");
    return NETAPI_SUCCESS;
}

DWORD WINAPI FakeNetApiBufferFree(LPVOID buffer)
{
    sim::SimBeforeCall("NetApiBufferFree");
    bool known;
    {
        std::lock_guard<std::mutex> guard(M().lock);
        known = M().netBuffers.erase(buffer) != 0;
    }
    if (!known) {
        Misuse("NetApiBufferFree of a buffer not handed out");
        return 87;
    }
    free(buffer);
    Log("NetApiBufferFree", "buffer", "");
    return NETAPI_SUCCESS;
}

} // namespace machine
} // namespace fake
