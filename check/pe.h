// An image's machine and a library's exports, read from the file's bytes. Loading a library runs
// its code, and so does asking it for a forwarded export, even when it was mapped without resolving
// its references: a file someone may have planted is only ever read, never loaded.
#pragma once

#include "platform/kernel32.h"

enum ExportKind { ExportMissing, ExportHere, ExportForwarded };

// Where the export directory of an image file lies; every offset is within
// the file and every count fits it.
struct ExportTable {
    const BYTE *file;
    DWORD size;
    DWORD sections;     // file offset of the section table
    DWORD sectionCount; // its entries, each within the file
    DWORD start;        // the directory's RVA and size: a function address
    DWORD length;       //   inside it names a forwarder, "OTHER.Name"
    DWORD functions;    // file offsets of the three arrays
    DWORD names;
    DWORD ordinals;
    DWORD functionCount;
    DWORD nameCount;
};

// The PE machine an image's headers name, 0 when they are not a PE's.
WORD MachineAt(const BYTE *image, DWORD size);

// Null when the file's export directory can be read; otherwise why not, in
// words for the report.
const char *OpenExports(const BYTE *file, DWORD size, ExportTable *table);

// Whether `wanted` is exported, and where a forwarder points: `target` gets its
// text ("OTHER.Name", cut to `capacity` - 1 and plain ASCII).
ExportKind FindExport(const ExportTable *table, const char *wanted, char *target, DWORD capacity);
