// Files and registry values as the findings read them: bounded, by their
// bytes, never loaded or run.
#include "check/check.h"
#include "platform/advapi32.h"

BOOL IsFile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

BOOL ReadInto(const char *path, BYTE *bytes, DWORD capacity, DWORD *size, DWORD *error)
{
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    *size = 0;
    BOOL read = file != INVALID_HANDLE_VALUE;
    DWORD got = 0;
    while (read && *size < capacity) {
        read = ReadFile(file, bytes + *size, capacity - *size, &got, nullptr);
        if (!read || got == 0) {
            break;
        }
        *size += got;
    }
    *error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return read;
}

BYTE *ReadWholeFile(const char *path, DWORD limit, DWORD *size, DWORD *error)
{
    // One byte more than the limit, to tell a file that is larger.
    BYTE *bytes = (BYTE *)LocalAlloc(LMEM_FIXED, limit + 1);
    *size = 0;
    BOOL read = bytes != nullptr && ReadInto(path, bytes, limit + 1, size, error);
    if (bytes == nullptr) {
        *error = GetLastError();
    } else if (read && *size > limit) {
        *error = ERROR_FILE_TOO_LARGE;
        read = FALSE;
    }
    if (!read && bytes != nullptr) {
        LocalFree(bytes);
        bytes = nullptr;
    }
    return bytes;
}

BOOL JoinPath(char *path, const char *folder, const char *name)
{
    Text joined;
    Clear(&joined);
    Format(&joined, "%s\\%s", folder, name);
    return CopyText(path, MAX_PATH, joined.chars);
}

DWORD ReadNumber(HKEY key, const char *name, DWORD otherwise)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&value, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
        return otherwise;
    }
    return value;
}
