// NETAPI32 of the machine the installation check looks at, reached through
// GetProcAddress: the members of the local Administrators group.
#include <stdlib.h>
#include <string.h>

#include "sim/host/machine.h"

#include "platform/netapi32.h"

using namespace fake::detail;

namespace fake
{
namespace machine
{

DWORD WINAPI FakeNetLocalGroupGetMembers(LPCWSTR server, LPCWSTR group, DWORD level, BYTE **buffer,
                                         DWORD, LPDWORD read, LPDWORD total, ULONG_PTR *)
{
    sim::SimBeforeCall("NetLocalGroupGetMembers");
    std::string name = sim::Narrow(group != nullptr ? group : u"");
    std::string args = std::string(server == nullptr ? "local" : "remote") + ", " + name + ", " +
                       std::to_string(level);
    DWORD error = 0;
    if (sim::ShouldFail("NetLocalGroupGetMembers", nullptr, &error)) {
        Log("NetLocalGroupGetMembers", args, "error " + std::to_string(error));
        return error;
    }
    if (level != 0 || name != "Administrators") {
        Log("NetLocalGroupGetMembers", args, "no such group");
        return 2220; // NERR_GroupNotFound
    }
    // One block: the member records, then the SIDs they point at.
    const std::vector<std::string> &members = M().administrators;
    size_t size = members.size() * sizeof(NET_LOCALGROUP_MEMBER);
    for (const std::string &sid : members) {
        size += SidBytes(sid).size();
    }
    unsigned char *block = (unsigned char *)calloc(1, size + 1);
    NET_LOCALGROUP_MEMBER *records = (NET_LOCALGROUP_MEMBER *)block;
    unsigned char *next = block + members.size() * sizeof(NET_LOCALGROUP_MEMBER);
    for (size_t i = 0; i < members.size(); ++i) {
        std::vector<unsigned char> sid = SidBytes(members[i]);
        memcpy(next, sid.data(), sid.size());
        records[i].Sid = next;
        next += sid.size();
    }
    {
        std::lock_guard<std::mutex> guard(M().lock);
        M().netBuffers.insert(block);
    }
    *buffer = block;
    *read = *total = (DWORD)members.size();
    Log("NetLocalGroupGetMembers", args, std::to_string(members.size()) + " members");
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
