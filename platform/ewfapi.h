// EWFAPI: the Enhanced Write Filter manager library of Windows Embedded.
//
// Our own declarations, written from the platform's published signatures and
// record layouts. No SDK header exists for it on a build machine, so the
// layout checks at the end are all that stands between a typo here and
// reading the wrong bytes on a protected machine.
#pragma once

#include <stddef.h>

#include "platform/kernel32.h"

// The simulated library defines and exports these functions itself; the
// installation check defines them over the library it loads at run time.
#if defined(_WIN32) && defined(EWFAPI_STANDIN)
#define EWFAPI_DECL extern "C" __declspec(dllexport)
#elif defined(_WIN32) && defined(EWFAPI_BOUND)
#define EWFAPI_DECL extern "C"
#elif defined(_WIN32)
#define EWFAPI_DECL extern "C" __declspec(dllimport)
#else
#define EWFAPI_DECL extern "C"
#endif

typedef enum _EWF_TYPE { EWF_DISK = 0, EWF_RAM = 1, EWF_RAM_REG = 2 } EWF_TYPE;

typedef enum _EWF_STATE { EWF_ENABLED = 0, EWF_DISABLED = 1 } EWF_STATE;

typedef enum _EWF_CMD {
    EWF_NO_CMD = 0,
    EWF_ENABLE = 1,
    EWF_DISABLE = 2,
    EWF_SET_LEVEL = 3,
    EWF_COMMIT = 4
} EWF_CMD;

typedef struct _EWF_COMMAND {
    EWF_CMD Command;
    ULONG Param1;
    ULONG Param2;
} EWF_COMMAND;

#define EWF_MAX_DEVICE_NAME_LENGTH 256
#define EWF_VOLUME_ID_SIZE 16
#define EWF_MAX_LEVEL_NAME_LENGTH 64
#define EWF_MAX_PERSISTENT_DATA 32

typedef struct _EWF_VOLUME_DESC {
    WCHAR DeviceName[EWF_MAX_DEVICE_NAME_LENGTH];
    UCHAR VolumeID[EWF_VOLUME_ID_SIZE];
} EWF_VOLUME_DESC;

typedef struct _EWF_LEVEL_DESC {
    WCHAR LevelName[EWF_MAX_LEVEL_NAME_LENGTH];
    FILETIME LevelEndTime;
    LONGLONG LevelDataSize;
} EWF_LEVEL_DESC;

typedef struct _EWF_DISK_OVERLAY {
    LONGLONG DiskMapSize;
    LONGLONG DiskDataSize;
} EWF_DISK_OVERLAY;

typedef struct _EWF_RAM_OVERLAY {
    LONGLONG RamDataSize;
} EWF_RAM_OVERLAY;

typedef struct _EWF_VOLUME_CONFIG {
    EWF_TYPE Type;
    EWF_STATE State;
    EWF_COMMAND BootCommand;
    UCHAR PersistentData[EWF_MAX_PERSISTENT_DATA];
    USHORT MaxLevels;
    ULONG ClumpSize;
    USHORT CurrentLevel;
    union {
        EWF_DISK_OVERLAY DiskOverlay;
        EWF_RAM_OVERLAY RamOverlay;
    };
    ULONG MemMapSize;
    EWF_VOLUME_DESC VolumeDesc;
    EWF_LEVEL_DESC LevelDescArray[1];
} EWF_VOLUME_CONFIG, *PEWF_VOLUME_CONFIG;

typedef struct _EWF_VOLUME_NAME_ENTRY {
    struct _EWF_VOLUME_NAME_ENTRY *Next;
    WCHAR Name[1];
} EWF_VOLUME_NAME_ENTRY, *PEWF_VOLUME_NAME_ENTRY;

static_assert(offsetof(EWF_VOLUME_CONFIG, RamOverlay.RamDataSize) == 64,
              "RamDataSize must sit at byte 64 on x86 and x64 alike");
static_assert(offsetof(EWF_VOLUME_CONFIG, MemMapSize) == 80, "MemMapSize offset");
static_assert(offsetof(EWF_VOLUME_CONFIG, VolumeDesc) == 84, "VolumeDesc offset");
static_assert(offsetof(EWF_VOLUME_CONFIG, LevelDescArray) == 616, "LevelDescArray offset");
static_assert(sizeof(EWF_LEVEL_DESC) == 144, "level record size");
static_assert(sizeof(EWF_VOLUME_CONFIG) == 760, "record with one level");
static_assert(offsetof(EWF_VOLUME_NAME_ENTRY, Name) == sizeof(void *),
              "the name follows the link: 4 on x86, 8 on x64");

// What the manager library returns in place of a drive letter it cannot find.
#define EWF_NO_DRIVE_LETTER ((WCHAR)0xFFFF)

// Each call as its row in the table gives it.
#define EWF_DECLARE(returns, name, parameters, ...) EWFAPI_DECL returns WINAPI name parameters;
#define EWF_READ EWF_DECLARE
#define EWF_WRITE EWF_DECLARE
#define EWF_LOOKED_UP EWF_DECLARE
#include "platform/ewfapi_calls.h"
#undef EWF_DECLARE
