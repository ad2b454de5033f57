#include "check/pe.h"

#include "check/bytes.h"
#include "check/text.h"

#define PE32_MAGIC 0x10B
#define PE32_PLUS_MAGIC 0x20B
#define SECTION_HEADER_SIZE 40

// Whether `count` bytes from `offset` lie within the file; no sum can wrap.
static BOOL Within(const ExportTable *table, DWORD offset, DWORD count)
{
    return offset <= table->size && count <= table->size - offset;
}

// The file offset of `count` bytes at `rva`, all within one section's bytes
// in the file; FALSE when they are not.
static BOOL OffsetOf(const ExportTable *table, DWORD rva, DWORD count, DWORD *offset)
{
    for (DWORD i = 0; i < table->sectionCount; ++i) {
        DWORD at = table->sections + i * SECTION_HEADER_SIZE;
        const BYTE *section = table->file + at;
        DWORD address = Read32(section + 12);
        DWORD raw = Read32(section + 16);
        DWORD start = Read32(section + 20);
        if (rva >= address && rva - address < raw && count <= raw - (rva - address)) {
            *offset = start + (rva - address);
            return Within(table, *offset, count);
        }
    }
    return FALSE;
}

const char *OpenExports(const BYTE *file, DWORD size, ExportTable *table)
{
    table->file = file;
    table->size = size;
    table->sectionCount = 0;
    if (!Within(table, 0, 0x40) || file[0] != 'M' || file[1] != 'Z') {
        return "not a Windows library";
    }
    DWORD header = Read32(file + 0x3C);
    if (!Within(table, header, 24) || Read32(file + header) != 0x00004550 /* "PE\0\0" */) {
        return "not a Windows library";
    }
    DWORD sectionCount = Read16(file + header + 6);
    DWORD optionalSize = Read16(file + header + 20);
    DWORD optional = header + 24;
    if (!Within(table, optional, optionalSize) || optionalSize < 2) {
        return "its headers are cut short";
    }
    // The data directories follow the fields whose width differs between
    // 32-bit and 64-bit images.
    DWORD magic = Read16(file + optional);
    DWORD directories = magic == PE32_MAGIC ? 96 : magic == PE32_PLUS_MAGIC ? 112 : 0;
    if (directories == 0) {
        return "its headers are of no known kind";
    }
    if (optionalSize < directories + 8 || Read32(file + optional + directories - 4) < 1) {
        return "it has no export directory";
    }
    table->sections = optional + optionalSize;
    if (!Within(table, table->sections, sectionCount * SECTION_HEADER_SIZE)) {
        return "its section table lies past the end of the file";
    }
    table->sectionCount = sectionCount;
    table->start = Read32(file + optional + directories);
    table->length = Read32(file + optional + directories + 4);

    DWORD directory = 0;
    if (table->start == 0) {
        return "it has no export directory";
    }
    if (!OffsetOf(table, table->start, 40, &directory)) {
        return "its export directory lies outside the file";
    }
    table->functionCount = Read32(file + directory + 20);
    table->nameCount = Read32(file + directory + 24);
    // Counts checked against the file before they are multiplied, so that
    // neither a product nor a later walk can run past it.
    if (table->functionCount > size / 4 || table->nameCount > size / 4 ||
        !OffsetOf(table, Read32(file + directory + 28), table->functionCount * 4,
                  &table->functions) ||
        !OffsetOf(table, Read32(file + directory + 32), table->nameCount * 4, &table->names) ||
        !OffsetOf(table, Read32(file + directory + 36), table->nameCount * 2, &table->ordinals)) {
        return "its export tables lie outside the file";
    }
    return nullptr;
}

// Whether the text at `rva` is `name` and ends within the file.
static BOOL NameIs(const ExportTable *table, DWORD rva, const char *name)
{
    DWORD offset = 0;
    if (!OffsetOf(table, rva, 1, &offset)) {
        return FALSE;
    }
    for (DWORD i = 0;; ++i) {
        if (offset + i >= table->size || table->file[offset + i] != (BYTE)name[i]) {
            return FALSE;
        }
        if (name[i] == '\0') {
            return TRUE;
        }
    }
}

ExportKind FindExport(const ExportTable *table, const char *wanted, char *target, DWORD capacity)
{
    target[0] = '\0';
    for (DWORD i = 0; i < table->nameCount; ++i) {
        DWORD name = table->names + i * 4;
        if (!NameIs(table, Read32(table->file + name), wanted)) {
            continue;
        }
        DWORD ordinal = table->ordinals + i * 2;
        DWORD index = Read16(table->file + ordinal);
        if (index >= table->functionCount) {
            return ExportMissing;
        }
        DWORD function = table->functions + index * 4;
        DWORD rva = Read32(table->file + function);
        DWORD offset = 0;
        // Inside the directory from both ends: below it no subtraction may
        // wrap into a huge directory's size.
        if (rva < table->start || rva - table->start >= table->length ||
            !OffsetOf(table, rva, 1, &offset)) {
            return rva != 0 ? ExportHere : ExportMissing;
        }
        DWORD length = 0;
        while (length + 1 < capacity && offset + length < table->size &&
               table->file[offset + length] != 0) {
            BYTE c = table->file[offset + length];
            target[length++] = IsPlain(c) ? (char)c : '?';
        }
        target[length] = '\0';
        return ExportForwarded;
    }
    return ExportMissing;
}

WORD MachineAt(const BYTE *image, DWORD size)
{
    if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') {
        return 0;
    }
    DWORD header = Read32(image + 0x3C);
    if (header > size - 6 || image[header] != 'P' || image[header + 1] != 'E' ||
        image[header + 2] != 0 || image[header + 3] != 0) {
        return 0;
    }
    return (WORD)Read16(image + header + 4);
}
