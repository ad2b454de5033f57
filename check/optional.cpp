#include "check/optional.h"

#include "check/check.h"

enum OptionalLibrary { Kernel32, Ntdll, Netapi32, OptionalLibraryCount };

static const char *const LibraryNames[OptionalLibraryCount] = {"kernel32.dll", "ntdll.dll",
                                                               "netapi32.dll"};

#define OPTIONAL_ROW(library, name) {library, #name},
static const struct {
    OptionalLibrary library;
    const char *name;
} Rows[OptionalCallCount] = {OPTIONAL_CALLS(OPTIONAL_ROW)};
#undef OPTIONAL_ROW

// What the table has resolved so far, and why a library could not be had.
static BOOL LibraryTried[OptionalLibraryCount];
static HMODULE Modules[OptionalLibraryCount];
static DWORD LoadErrors[OptionalLibraryCount];
static BOOL Tried[OptionalCallCount];
static FARPROC Routines[OptionalCallCount];

// From the system folder by its full path, and its own dependencies from
// there too, not from beside the check: a copy elsewhere would run its code
// in this elevated process.
static HMODULE LoadSystemLibrary(const char *name)
{
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    char path[MAX_PATH];
    return length > 0 && length < MAX_PATH && JoinPath(path, folder, name)
               ? LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
               : nullptr;
}

FARPROC OptionalRoutine(OptionalCall call)
{
    OptionalLibrary library = Rows[call].library;
    if (!LibraryTried[library]) {
        LibraryTried[library] = TRUE;
        // Every process has the first two loaded.
        Modules[library] = library == Netapi32 ? LoadSystemLibrary(LibraryNames[library])
                                               : GetModuleHandleA(LibraryNames[library]);
        LoadErrors[library] = GetLastError();
    }
    if (!Tried[call]) {
        Tried[call] = TRUE;
        Routines[call] = Modules[library] != nullptr
                             ? GetProcAddress(Modules[library], Rows[call].name)
                             : nullptr;
    }
    if (Routines[call] == nullptr) {
        SetLastError(Modules[library] == nullptr ? LoadErrors[library] : ERROR_PROC_NOT_FOUND);
    }
    return Routines[call];
}

void ReleaseOptionalCalls()
{
    if (Modules[Netapi32] != nullptr) {
        FreeLibrary(Modules[Netapi32]);
    }
    for (DWORD i = 0; i < OptionalLibraryCount; ++i) {
        LibraryTried[i] = FALSE;
        Modules[i] = nullptr;
    }
    for (DWORD i = 0; i < OptionalCallCount; ++i) {
        Tried[i] = FALSE;
        Routines[i] = nullptr;
    }
}
