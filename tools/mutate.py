"""Mutation run (not part of the test command, like the soak): plants each
fault of FAULTS, one at a time, in the product sources of a scratch copy of
this tree, rebuilds the host preset, runs the host unit tests, and, for a
fault that only a sanitizer can see, the ASan/UBSan preset too. Prints a
table of each fault, caught or not and by which tests, then the score.

    python3 tools/mutate.py [--only TEXT ...] [--list]

A fault is a plausible slip: a comparison, a clean-up order, a code, a
constant, the text, a path rule, a wait. A fault that changes nothing
observable is marked equivalent, with the reason, and is left out of the
score. memcheck is not run: the plain and sanitizer runs see all it would.
"""

import argparse
import re
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


@dataclass
class Fault:
    file: str
    old: str
    new: str
    what: str
    asan: bool = False  # only the ASan/UBSan preset can see it
    equivalent: str = ""  # why nothing observable changes


FAULTS = [
    # ---- watchdog/config.cpp: ParseLimit ----
    Fault("watchdog/config.cpp", "(*text >= '\\t' && *text <= '\\r')", "*text == '\\t'",
          "ParseLimit skips only blanks and tabs, not line feeds and the rest"),
    Fault("watchdog/config.cpp", "if (*text == '+' || *text == '-') {", "if (*text == '-') {",
          "ParseLimit takes no '+' sign"),
    Fault("watchdog/config.cpp", "value = 0u - value;", "value = value;",
          "ParseLimit drops the minus sign"),
    Fault("watchdog/config.cpp", "*text >= '0' && *text <= '9'", "*text >= '0' && *text < '9'",
          "ParseLimit stops at the digit 9"),
    Fault("watchdog/config.cpp",
          "    DWORD value = 0;\n    while (*text >= '0' && *text <= '9') {\n"
          "        value = value * 10u + (DWORD)(*text - '0');",
          "    int value = 0;\n    while (*text >= '0' && *text <= '9') {\n"
          "        value = value * 10 + (*text - '0');",
          "ParseLimit accumulates in a signed int (undefined on overflow)", asan=True),
    # ---- watchdog/config.cpp: ProfilePathFromModulePath ----
    Fault("watchdog/config.cpp", "length >= MAX_PATH", "length > MAX_PATH",
          "a full buffer (a truncated, unterminated path) is taken as whole"),
    Fault("watchdog/config.cpp", "if (length == 0 || length >= MAX_PATH) {",
          "if (length >= MAX_PATH) {", "a failed path call (0) is not refused"),
    Fault("watchdog/config.cpp", "if (c == '\\\\' || c == '/' || c == ':') {",
          "if (c == '\\\\') {", "'/' and ':' do not end the file name"),
    Fault("watchdog/config.cpp", "            break;\n        }\n        if (c == '.') {",
          "        }\n        if (c == '.') {",
          "the last '.' of the whole path is replaced, even in a folder name"),
    Fault("watchdog/config.cpp", "end = i - 1;", "end = i;", "the '.' itself is kept: prog..ini"),
    Fault("watchdog/config.cpp", "end + sizeof(Extension) > MAX_PATH",
          "end + sizeof(Extension) > MAX_PATH + 1", "'.ini' may end one byte past the buffer"),
    Fault("watchdog/config.cpp", "end + sizeof(Extension) > MAX_PATH",
          "end + sizeof(Extension) >= MAX_PATH", "a path that just fits is refused"),
    Fault("watchdog/config.cpp", "for (DWORD i = 0; i < sizeof(Extension); ++i) {",
          "for (DWORD i = 0; i + 1 < sizeof(Extension); ++i) {",
          "'.ini' is copied without its terminator"),
    # ---- watchdog/config.cpp: ReadLimit ----
    Fault("watchdog/config.cpp", '    if (!ProfilePathFromModulePath(path, length)) {\n'
                                 '        return ParseLimit(DEFAULT_LIMIT_TEXT);\n    }\n',
          '    ProfilePathFromModulePath(path, length);\n',
          "the profile is read even from a path that could not be formed"),
    Fault("watchdog/config.h", '#define PROFILE_KEY "limit"',
          '#define PROFILE_KEY "limits"', "the key is misspelt"),
    Fault("watchdog/config.h", '#define PROFILE_SECTION "TOVRIN"',
          '#define PROFILE_SECTION "Tovrin"', "the section in mixed case",
          equivalent="the profile read compares section names without regard to case"),
    Fault("watchdog/config.cpp", "GetModuleFileNameA(nullptr, path, MAX_PATH);",
          "GetModuleFileNameA(nullptr, path, MAX_PATH - 1);",
          "the path call is told of one byte less than the buffer has"),
    Fault("watchdog/config.h", '#define DEFAULT_LIMIT_TEXT "128"',
          '#define DEFAULT_LIMIT_TEXT "127"', "the default limit is 127"),
    # ---- watchdog/config.cpp: LimitReached; watchdog/main.cpp: WinMain ----
    Fault("watchdog/config.cpp", "return mib >= limit;", "return mib > limit;",
          "reaching the limit exactly does not count"),
    Fault("watchdog/config.cpp", "int mib = (int)(DWORD)(ULONGLONG)(total / BYTES_PER_MIB);",
          "int mib = (int)(total / BYTES_PER_MIB);",
          "the quotient narrowed without the unsigned steps",
          equivalent="GCC narrows a 64-bit value to int by taking its low 32 bits, the same "
                     "as the unsigned steps spell out"),
    Fault("watchdog/config.cpp", "int mib = (int)(DWORD)(ULONGLONG)(total / BYTES_PER_MIB);",
          "int mib = (int)(DWORD)(ULONGLONG)(total >> 20);",
          "MiB by an arithmetic shift, which rounds negative totals down, not toward zero"),
    Fault("watchdog/main.cpp", "        Sleep(POLL_INTERVAL_MS);\n        TotalRamDataSize = 0;\n"
                               "        SumRamDataSize();\n",
          "        TotalRamDataSize = 0;\n        SumRamDataSize();\n"
          "        Sleep(POLL_INTERVAL_MS);\n",
          "the first measurement comes before the first sleep"),
    Fault("watchdog/main.cpp", "        TotalRamDataSize = 0;\n", "",
          "the total is not zeroed before each measurement"),
    Fault("watchdog/main.cpp", 'Trace("Total Ram Data Size : %u MB\\n", TotalRamDataSize / BYTES_PER_MIB);',
          'Trace("Total Ram Data Size : %u MB\\n", TotalRamDataSize);',
          "the MiB trace is given bytes"),
    Fault("watchdog/main.cpp",
          "    HANDLE warning = CreateThread(nullptr, 0, ShowOverflowWarning, nullptr, 0, nullptr);",
          "    ShowOverflowWarning(nullptr);\n"
          "    HANDLE warning = CreateThread(nullptr, 0, ShowOverflowWarning, nullptr, 0, nullptr);",
          "the warning is shown on the main thread before the write-back"),
    Fault("watchdog/main.cpp", "    CommitAndReenableAll();\n\n", "",
          "no write-back pass"),
    Fault("watchdog/main.cpp", "    CommitAndReenableAll();\n\n",
          "    while (WarningShowing.load()) {\n        Sleep(DISMISS_POLL_INTERVAL_MS);\n    }\n"
          "    CommitAndReenableAll();\n\n",
          "the write-back waits for the user to dismiss the warning"),
    Fault("watchdog/main.cpp", "    if (warning != nullptr) {\n        CloseHandle(warning);\n    }\n",
          "", "the warning thread's handle is never closed"),
    Fault("watchdog/main.cpp", "    if (warning == nullptr) {\n        ShowOverflowWarning(nullptr);\n"
                               "    }\n", "",
          "without a warning thread the program waits forever"),
    Fault("watchdog/main.cpp", "    while (WarningShowing.load()) {\n        Sleep(DISMISS_POLL_INTERVAL_MS);\n    }",
          "    do {\n        Sleep(DISMISS_POLL_INTERVAL_MS);\n    } while (WarningShowing.load());",
          "one 100 ms sleep even when the warning is already dismissed"),
    Fault("watchdog/watchdog.h", "#define POLL_INTERVAL_MS 2000", "#define POLL_INTERVAL_MS 1000",
          "polls every second"),
    Fault("watchdog/watchdog.h", "#define DISMISS_POLL_INTERVAL_MS 100",
          "#define DISMISS_POLL_INTERVAL_MS 1000", "waits for the dismissal in 1 s steps"),
    Fault("watchdog/watchdog.h", "#define BYTES_PER_MIB 1048576", "#define BYTES_PER_MIB 1000000",
          "a MiB of a million bytes"),
    # ---- watchdog/warning.cpp and warning.h ----
    Fault("watchdog/warning.cpp", "std::atomic<bool> WarningShowing(true);",
          "std::atomic<bool> WarningShowing(false);",
          "the flag starts false: the program ends with the box on screen"),
    Fault("watchdog/warning.cpp", "    MessageBoxA(nullptr, WarningText, WarningCaption, WARNING_STYLE);\n"
                                  "    WarningShowing.store(false);\n",
          "    WarningShowing.store(false);\n"
          "    MessageBoxA(nullptr, WarningText, WarningCaption, WARNING_STYLE);\n",
          "the flag is cleared before the box is shown"),
    Fault("watchdog/warning.cpp", "MessageBoxA(nullptr, WarningText, WarningCaption, WARNING_STYLE);",
          "MessageBoxA(nullptr, WarningCaption, WarningText, WARNING_STYLE);",
          "text and caption swapped"),
    Fault("watchdog/warning.h", '"Tovrin V1.00 20070610 Ondrap"', '"Tovrin V1.0 20070610 Ondrap"',
          "the caption's version"),
    Fault("watchdog/warning.cpp", '"\\n"\n', '"\\r\\n"\n', "the lines separated by CR LF"),
    Fault("watchdog/warning.cpp", '"EWF"\n    "\\x83\\x89', '"EWF"\n    "\\x83\\x8a',
          "one byte of the Japanese text"),
    Fault("watchdog/warning.h", "(MB_OK | MB_ICONWARNING | MB_TOPMOST)", "(MB_OK | MB_ICONWARNING)",
          "the box is not topmost"),
    Fault("watchdog/warning.h", "(MB_OK | MB_ICONWARNING | MB_TOPMOST)",
          "(0x1u | MB_ICONWARNING | MB_TOPMOST)", "OK and Cancel buttons (MB_OKCANCEL)"),
    # ---- watchdog/trace.cpp ----
    Fault("watchdog/trace.cpp", "void Trace(const char *, ...) {}",
          "#include <stdio.h>\nvoid Trace(const char *format, ...) { fputs(format, stderr); }",
          "Trace prints its messages"),
    Fault("watchdog/trace.cpp", "void Trace(const char *, ...) {}",
          "#include <stdio.h>\nvoid Trace(const char *format, ...)\n{\n"
          "    FILE *log = fopen(\"tovrin.log\", \"a\");\n"
          "    if (log != nullptr) {\n        fputs(format, log);\n        fclose(log);\n    }\n}",
          "Trace writes a log file"),
    # ---- volumes/measure.cpp: SumRamDataSize ----
    Fault("volumes/measure.cpp", "if (driveLetter == EWF_NO_DRIVE_LETTER) {", "if (driveLetter == 0) {",
          "a failed drive letter lookup is not seen"),
    Fault("volumes/measure.cpp",
          "            TotalRamDataSize =\n"
          "                (LONGLONG)((ULONGLONG)TotalRamDataSize + (ULONGLONG)config->RamOverlay.RamDataSize);",
          "            TotalRamDataSize += config->RamOverlay.RamDataSize;",
          "the total summed as signed 64-bit (undefined on overflow)", asan=True),
    Fault("volumes/measure.cpp",
          "            TotalRamDataSize =\n"
          "                (LONGLONG)((ULONGLONG)TotalRamDataSize + (ULONGLONG)config->RamOverlay.RamDataSize);",
          "            TotalRamDataSize = config->RamOverlay.RamDataSize;",
          "each volume replaces the total instead of adding to it"),
    Fault("volumes/measure.cpp", "            LocalFree(config);\n            config = nullptr;\n",
          "            config = nullptr;\n", "the configuration record is never released"),
    Fault("volumes/measure.cpp", "            unclosed = volume;\n", "",
          "a handle whose close failed is given up, not closed again"),
    Fault("volumes/measure.cpp",
          "            if (unclosed != INVALID_HANDLE_VALUE) {\n                EwfMgrClose(unclosed);\n            }\n",
          "", "a handle whose close failed is dropped when another close fails"),
    Fault("volumes/measure.cpp", "            unclosed = volume;\n        }\n",
          "            unclosed = volume;\n            break;\n        }\n",
          "a failed close ends the walk"),
    Fault("volumes/measure.cpp", "            Trace(failure, code);\n            KeepFirst(code, &result, &failed);\n",
          "            Trace(failure, code);\n            KeepFirst(code, &result, &failed);\n            break;\n",
          "a volume that cannot be opened or read ends the walk"),
    Fault("volumes/measure.cpp", "        if (volume != INVALID_HANDLE_VALUE && !EwfMgrClose(volume)) {",
          "        if (!EwfMgrClose(volume)) {", "a volume that could not be opened is closed"),
    Fault("volumes/measure.cpp", "    if (!*failed) {", "    if (*result == 0) {",
          "a later failure replaces a first failure whose code is 0"),
    Fault("volumes/measure.cpp",
          "    if (list != nullptr) {\n        EwfMgrVolumeNameListDelete(list);\n        list = nullptr;\n    }\n"
          "    if (unclosed != INVALID_HANDLE_VALUE) {\n        EwfMgrClose(unclosed);\n    }\n",
          "    if (unclosed != INVALID_HANDLE_VALUE) {\n        EwfMgrClose(unclosed);\n    }\n"
          "    if (list != nullptr) {\n        EwfMgrVolumeNameListDelete(list);\n        list = nullptr;\n    }\n",
          "the clean-up closes the handle before it deletes the list"),
    Fault("volumes/measure.cpp",
          "    if (list != nullptr) {\n        EwfMgrVolumeNameListDelete(list);\n        list = nullptr;\n    }\n",
          "", "the list is never deleted"),
    Fault("volumes/measure.cpp",
          "    if (unclosed != INVALID_HANDLE_VALUE) {\n        EwfMgrClose(unclosed);\n    }\n    return result;",
          "    return result;", "a handle whose close failed is never closed again at the end"),
    Fault("volumes/measure.cpp",
          "            ResultCode code = GetLastError();\n            Trace(failure, code);",
          "            ResultCode code = 0;\n            Trace(failure, code);",
          "a failed open or configuration read returns 0"),
    Fault("volumes/measure.cpp",
          "            failure = \"EwfMgrGetProtectedVolumeConfig failed LE = %u\\n\";\n",
          "", "a failed configuration read is traced as a failed open"),
    Fault("volumes/measure.cpp", 'Trace("%c: = %s\\n", driveLetter, list->Name);',
          'Trace("%c: = %s\\n", driveLetter, list);', "the volume trace is given the entry, not its name"),
    # ---- volumes/writeback.cpp: CommitAndDisableVolume and EnableVolume ----
    Fault("volumes/writeback.cpp",
          "        ResultCode code = GetLastError();\n        Trace(\"EwfMgrCommit failed LE = %u\\n\", code);\n"
          "        EwfMgrClose(volume);\n        return code;",
          "        EwfMgrClose(volume);\n        ResultCode code = GetLastError();\n"
          "        Trace(\"EwfMgrCommit failed LE = %u\\n\", code);\n        return code;",
          "the commit's failure code is read after the close"),
    Fault("volumes/writeback.cpp", 'Trace("EwfMgrCommit failed LE = %u\\n", code);',
          'Trace("EwfMgrCommitAndDisableLive failed LE = %u\\n", code);',
          "the commit failure traced under the call's full name"),
    Fault("volumes/writeback.cpp", "    Trace(\"EwfMgrCommit failed LE = %u\\n\", code);\n        EwfMgrClose(volume);\n",
          "    Trace(\"EwfMgrCommit failed LE = %u\\n\", code);\n",
          "the handle is left open after a failed commit"),
    Fault("volumes/writeback.cpp",
          "    Trace(\"EwfMgrCommit succeeded\\n\");\n    EwfMgrClose(volume);\n    return 0;",
          "    Trace(\"EwfMgrCommit succeeded\\n\");\n    EwfMgrClose(volume);\n    return GetLastError();",
          "a successful commit returns whatever the close left as last error"),
    Fault("volumes/writeback.cpp",
          "        ResultCode code = GetLastError();\n        Trace(\"EwfMgrEnable failed LE = %u\\n\", code);\n"
          "        EwfMgrClose(volume);\n        return code;",
          "        EwfMgrClose(volume);\n        ResultCode code = GetLastError();\n"
          "        Trace(\"EwfMgrEnable failed LE = %u\\n\", code);\n        return code;",
          "the enable's failure code is read after the close"),
    Fault("volumes/writeback.cpp", "    if (restart) {\n        RestartSystem();\n    }\n    EwfMgrClose(volume);\n",
          "    EwfMgrClose(volume);\n    if (restart) {\n        RestartSystem();\n    }\n",
          "the restart is asked for after the handle is closed"),
    Fault("volumes/writeback.cpp", "    if (restart) {\n", "    if (!restart) {\n",
          "the restart flag inverted"),
    # ---- volumes/writeback.cpp: CommitAndReenableAll ----
    Fault("volumes/writeback.cpp", "            CommitAndDisableVolume(list->Name);\n            EnableVolume(list->Name, FALSE);\n",
          "            if (CommitAndDisableVolume(list->Name) == 0) {\n"
          "                EnableVolume(list->Name, FALSE);\n            }\n",
          "no enable after a failed commit"),
    Fault("volumes/writeback.cpp", "            EnableVolume(list->Name, FALSE);\n",
          "            EnableVolume(list->Name, TRUE);\n", "the pass restarts the machine"),
    Fault("volumes/writeback.cpp", "            CommitAndDisableVolume(list->Name);\n            EnableVolume(list->Name, FALSE);\n",
          "            EnableVolume(list->Name, FALSE);\n            CommitAndDisableVolume(list->Name);\n",
          "enable before commit"),
    Fault("volumes/writeback.cpp", "        if (OverlayEnabled(list->Name)) {",
          "        if (OverlayEnabled(list->Name) || TRUE) {",
          "the pass enables a volume left unprotected on purpose"),
    Fault("volumes/writeback.cpp", "        enabled = config->State != EWF_DISABLED;",
          "        enabled = config->State == EWF_ENABLED && config->Type != EWF_RAM_REG;",
          "a protected RAM-REG volume is skipped"),
    Fault("volumes/writeback.cpp", "        Trace(\"EwfMgrOpenProtected failed LE = %u\\n\", GetLastError());\n        return TRUE;",
          "        Trace(\"EwfMgrOpenProtected failed LE = %u\\n\", GetLastError());\n        return FALSE;",
          "a volume whose state cannot be read is skipped"),
    Fault("volumes/writeback.cpp", "        LocalFree(config);\n    }\n    EwfMgrClose(volume);\n    return enabled;",
          "        LocalFree(config);\n    }\n    return enabled;",
          "the state read leaves its volume open"),
    Fault("volumes/writeback.cpp",
          "    if (list != nullptr) {\n        EwfMgrVolumeNameListDelete(list);\n    }\n    return 0;",
          "    return 0;", "the pass never deletes its list"),
    # ---- volumes/writeback.cpp: RestartSystem ----
    Fault("volumes/writeback.cpp", "TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY", "TOKEN_ADJUST_PRIVILEGES",
          "the token opened without query access"),
    Fault("volumes/writeback.cpp", '"SeShutdownPrivilege"', '"SeRemoteShutdownPrivilege"',
          "the wrong privilege"),
    Fault("volumes/writeback.cpp", "privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;",
          "privileges.Privileges[0].Attributes = 0;", "the privilege is not enabled"),
    Fault("volumes/writeback.cpp", "ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)", "ExitWindowsEx(EWX_REBOOT, 0)",
          "a restart that applications can refuse"),
    Fault("volumes/writeback.cpp", "        // Whatever a failed open left in the variable is no handle of ours.\n"
                                 "        token = INVALID_HANDLE_VALUE;\n", "",
          "whatever a failed open left in the token is closed"),
    Fault("volumes/writeback.cpp",
          "        // The first step that failed set the last error.\n        result = GetLastError();\n    }\n\n"
          "    if (token != INVALID_HANDLE_VALUE) {\n        CloseHandle(token);\n    }\n",
          "        result = 1;\n    }\n\n"
          "    if (token != INVALID_HANDLE_VALUE) {\n        CloseHandle(token);\n    }\n"
          "    if (result != 0) {\n        result = GetLastError();\n    }\n",
          "the restart's failure code is read after the token's close"),
    Fault("volumes/writeback.cpp", "    if (token != INVALID_HANDLE_VALUE) {\n        CloseHandle(token);\n    }\n", "",
          "the token is never closed"),
    # ---- check/: the installation check ----
    Fault("check/main.cpp", "(count == first + 1 && IsOption(arguments[first]))",
          "(count == first + 1 && IsOption(arguments[first]) && first > 2)",
          "an option where a path belongs is taken as the path"),
    Fault("check/optional.cpp", "? LoadLibraryExA(path, nullptr,", "? LoadLibraryExA(name, nullptr,",
          "an optional library is loaded by name, from wherever the search finds one"),
    Fault("check/optional.cpp", "        FreeLibrary(Modules[Netapi32]);\n", "",
          "the group list's library is never unloaded"),
    Fault("check/optional.cpp", "        Tried[i] = FALSE;\n", "",
          "a second check in one process finds no optional call"),
    Fault("check/optional.cpp", ": ERROR_PROC_NOT_FOUND", ": ERROR_FILE_NOT_FOUND",
          "a missing routine is reported as a missing library"),
    Fault("check/report.cpp", "Problems += level == LevelProblem;", "Problems += level >= LevelWarning;",
          "warnings count as problems: exit 2 for a machine that is ready"),
    Fault("check/report.cpp", "Warnings += level == LevelWarning;", "Warnings += level >= LevelNote;",
          "notes count as warnings"),
    Fault("check/watchdog.cpp", "if (target->machine == MACHINE_X64 && !facts->system.is64) {",
          "if (target->machine == MACHINE_X64 && facts->system.is64) {",
          "an x64 watchdog on 32-bit Windows passes"),
    Fault("check/system.cpp",
          "system->is64 = isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;",
          "system->is64 = isWow64 != nullptr && (isWow64(GetCurrentProcess(), &wow64) || TRUE);",
          "any system with IsWow64Process counts as 64-bit"),
    Fault("check/profile.cpp", "bytes[0] != 0xEF || bytes[1] != 0xBB || bytes[2] != 0xBF",
          "bytes[0] != 0xEF", "any file starting with 0xEF is taken for a byte-order mark"),
    Fault("check/profile.cpp", "return i < size && bytes[i] == ']' && SameName(name, PROFILE_SECTION);",
          "return TRUE;", "a mark before any section header is a problem"),
    Fault("check/profile.cpp", "BOOL key = section && ListHolds(names, PROFILE_KEY);",
          "BOOL key = section;", "a missing limit key goes unnoticed"),
    Fault("check/profile.cpp", "    if (target->limit <= 0) {", "    if (target->limit < 0) {",
          "a limit of 0 is not warned about"),
    Fault("check/library.cpp", "LoadLibraryExA(ownLibrary, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)",
          "LoadLibraryExA(hasBeside ? beside : ownLibrary, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)",
          "a copy beside the watchdog is loaded with its code run"),
    Fault("check/library.cpp", "        } else if (kind == ExportForwarded) {",
          "        } else if (kind == ExportForwarded && FALSE) {", "a forwarded import passes"),
    Fault("check/library.cpp", "    LocalFree(file);\n}", "}", "the library's bytes are never released"),
    Fault("check/library.cpp", "    if (machine == MACHINE_X86) {", "    if (machine == MACHINE_X64) {",
          "an x86 watchdog on 64-bit Windows is given the 64-bit library"),
    Fault("check/pe.cpp", "        if (offset + i >= table->size || table->file[offset + i] != (BYTE)name[i]) {",
          "        if (table->file[offset + i] != (BYTE)name[i]) {",
          "a name without a terminator is read past the file", asan=True),
    Fault("check/pe.cpp", "    if (table->functionCount > size / 4 || table->nameCount > size / 4 ||",
          "    if (", "export counts are not bounded by the file", asan=True),
    Fault("check/pe.cpp", "        if (index >= table->functionCount) {", "        if (index > table->functionCount) {",
          "an ordinal one past the functions is read", asan=True),
    Fault("check/persist.cpp", "    if (volume != nullptr && !volume->read) {",
          "    if (volume != nullptr && !volume->read && volume->enabled) {",
          "a file on a volume whose record was not read is called safe"),
    Fault("check/library.cpp", "system->major == 5 && system->minor == 1", "system->major < 6",
          "XP Embedded's update path is advised on every XP-era version"),
    Fault("check/pe.cpp", "if (rva < table->start || rva - table->start >= table->length ||",
          "if (rva - table->start >= table->length ||",
          "a function below a huge export directory is taken for a forwarder"),
    Fault("check/pe.cpp", "    if (table->start == 0) {\n        return \"it has no export directory\";",
          "    if (table->start == 0) {\n        return \"its export directory lies outside the file\";",
          "an image without an export directory is said to have one outside the file"),
    Fault("check/pe.cpp", "rva - table->start >= table->length", "rva - table->start > table->length",
          "a function just past the export directory counts as a forwarder"),
    Fault("check/pe.cpp", "    DWORD directories = magic == PE32_MAGIC ? 96 : magic == PE32_PLUS_MAGIC ? 112 : 0;",
          "    DWORD directories = magic == PE32_MAGIC ? 96 : magic == PE32_PLUS_MAGIC ? 96 : 0;",
          "a 64-bit library's directories are read as a 32-bit one's"),
    Fault("check/overlays.cpp", "        if (error == ERROR_ACCESS_DENIED) {", "        if (error == 0) {",
          "access denied is not told apart"),
    Fault("check/overlays.cpp",
          "        if (volume != INVALID_HANDLE_VALUE) {\n            EwfMgrClose(volume);\n        }\n",
          "", "a failed record read leaves its volume open"),
    Fault("check/overlays.cpp", "    LocalFree(config);\n    if (named && facts->volumeCount < 26) {",
          "    if (named && facts->volumeCount < 26) {", "the volume record is never released"),
    Fault("check/overlays.cpp", "        ++tally->unread;\n", "",
          "the total does not say that it leaves an unread volume out"),
    Fault("check/overlays.cpp", "        level = level > LevelWarning ? level : LevelWarning;\n", "",
          "a failed close leaves a volume's line ok"),
    Fault("check/overlays.cpp", "    if (horm) {", "    if (horm && type == EWF_DISK) {",
          "HORM on a RAM overlay goes unreported"),
    Fault("check/visibility.cpp", "    if (facts->system.major >= 6) {\n        ReportDialogFilter",
          "    if (facts->system.major > 6) {\n        ReportDialogFilter", "the Dialog Filter of 6.1 is not read"),
    Fault("check/visibility.cpp", "            while (i < length && (bytes[at + i * width] | 0x20) == (needle[i] | 0x20) &&",
          "            while (i < length && bytes[at + i * width] == needle[i] &&",
          "the Dialog Filter's list is searched with case"),
    Fault("check/overlays.cpp", "    if (type == EWF_DISK) {", "    if (type == EWF_RAM_REG) {",
          "a disk overlay passes, RAM-REG does not"),
    Fault("check/overlays.cpp", "tally->enabledRamEmpty += data == 0;", "tally->enabledRamEmpty += 1;",
          "every enabled overlay counts as empty"),
    Fault("check/overlays.cpp", "    BOOL reached = LimitReached(TotalRamDataSize, target->limit);",
          "    BOOL reached = TotalRamDataSize / 1048576 > target->limit;",
          "the check compares the total its own way"),
    Fault("check/overlays.cpp", "    if (list != nullptr) {\n        EwfMgrVolumeNameListDelete(list);",
          "    if (list == nullptr) {\n        EwfMgrVolumeNameListDelete(list);",
          "the volume list is never deleted"),
    Fault("check/room.cpp", "    room->ptes = system->is64 || system->major >= 6 ? 0 : FreeSystemPtes();",
          "    room->ptes = system->major >= 6 ? 0 : FreeSystemPtes();",
          "free system PTEs bound the room on 64-bit Windows"),
    Fault("check/room.cpp", "    room->ptes = system->is64 || system->major >= 6 ? 0 : FreeSystemPtes();",
          "    room->ptes = system->is64 ? 0 : FreeSystemPtes();",
          "free system PTEs bound the room on 32-bit Windows 6.x"),
    Fault("check/room.cpp", "((ULONGLONG)room->ptes << PTE_SHIFT) < bytes",
          "((ULONGLONG)room->ptes << PTE_SHIFT) > bytes", "the room is the larger figure"),
    Fault("check/room.cpp", "    } else if (need > spare) {",
          "    } else if (need > room.bytes - (room.bytes >> 3)) {",
          "the room warning keeps back an eighth, not a quarter"),
    Fault("check/room.cpp", "    if (highest > room.total >> MIB_SHIFT) {", "    if (false) {",
          "the highest limit may exceed physical memory"),
    Fault("check/watch.cpp", "            } else if (left <= watched->room) {",
          "            } else if (left <= 0) {", "the end of the room always comes first"),
    Fault("check/watch.cpp", "    AppendUnsigned(text, minutes - hours * 60);",
          "    AppendUnsigned(text, minutes);", "the minutes count the hours again"),
    Fault("check/access.cpp", "(ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0 || ", "",
          "inherit-only entries count"),
    Fault("check/access.cpp", "allowed && (ace->Mask & rights) != 0", "allowed && ace->Mask != 0",
          "reading counts as changing"),
    Fault("check/access.cpp", "0x40000u /* write DAC */ | ", "",
          "the right to change permissions is overlooked"),
    Fault("check/access.cpp", "        owner != nullptr && !Trusted(owner)) {",
          "        FALSE) {", "the owner is overlooked"),
    Fault("check/access.cpp", "    if (dacl == nullptr && !who->everyone) {",
          "    if (FALSE) {", "a null DACL passes"),
    Fault("check/access.cpp", "    if (named && use == SidTypeUser && AdministratorsMembership(account) == 0) {",
          "    if (named && use == SidTypeUser && (AdministratorsMembership(account) == 0 || TRUE)) {",
          "every account counts as an administrator"),
    Fault("check/accounts.cpp", "            result = group[k] == groups[i].Name[k] ? 0 : result;",
          "            result = 0;", "any local group makes an account an administrator"),
    Fault("check/accounts.cpp", "getGroups(nullptr, account, 0, LG_INCLUDE_INDIRECT, &buffer,",
          "getGroups(nullptr, account, 0, 0, &buffer,",
          "an administrator through a group is not one"),
    Fault("check/startfiles.cpp", "    facts->logon = facts->logons > facts->logonsOff;",
          "    facts->logon = facts->logons > 0;", "a log-on trigger turned off still starts"),
    Fault("check/startfiles.cpp", "        service |= Is(name, known);",
          "        service |= Is(name, \"S-1-5-18\");",
          "only SYSTEM's SID runs in session 0"),
    Fault("check/start.cpp", "    if (task->priority >= 7) {", "    if (task->priority > 7) {",
          "the default priority passes"),
    Fault("check/start.cpp", "        BOOL running = facts->runningCopies > 0 || unread;",
          "        BOOL running = facts->runningCopies > 0;",
          "nothing found in what was read is called nothing at all"),
    Fault("check/start.cpp", "    } else if (!AtConsole(&console, &own)) {",
          "    } else if (!AtConsole(&console, &own) && FALSE) {", "a check away from the console takes its own account for the console's"),
    Fault("check/start.cpp", "    if (!automatic) {\n        Clear(name);", "    if (FALSE) {\n        Clear(name);",
          "the account at the console is held against a task for one account"),
    Fault("check/accounts.cpp", "        if (buffer != nullptr) {\n            freeBuffer(buffer);\n        }\n", "",
          "the group list is never freed"),
    Fault("check/visibility.cpp", "        RegCloseKey(key);\n", "", "the registry key is never closed"),
    Fault("check/running.cpp", "        if (SameName(process.szExeFile, target->name)) {",
          "        if (SameName(process.szExeFile, \"tovrin.exe\")) {",
          "a renamed watchdog is looked for under the shipped name"),
    Fault("check/running.cpp", "            without = (attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0",
          "            without = (attributes & 0x20) != 0",
          "a filtered token's deny-only Administrators count as rights"),
    Fault("check/running.cpp", "OpenProcess(facts->system.major >= 6 ? PROCESS_QUERY_LIMITED_INFORMATION",
          "OpenProcess(facts->system.major >= 7 ? PROCESS_QUERY_LIMITED_INFORMATION",
          "Standard 7 is asked for the full query right"),
    Fault("check/running.cpp", "        if (opened != nullptr) {\n            CloseHandle(opened);\n        }\n",
          "", "the watchdog's process handle is never closed"),
    Fault("check/running.cpp", "        }\n        CloseHandle(token);\n", "        }\n",
          "the watchdog's token is never closed"),
    Fault("check/running.cpp", "    LocalFree(groups);\n    if (without == nullptr) {",
          "    if (without == nullptr) {", "the token's group list is never freed"),
    Fault("check/running.cpp", "    } else if (session != console) {", "    } else if (session != 1) {",
          "the watchdog's session is compared with session 1, not the console's"),
    Fault("check/running.cpp", "    } else if (!SameName(path, facts->target.path)) {",
          "    } else if (!SameName(path + 0, path)) {", "a copy from another folder is ok"),
    Fault("check/running.cpp", "    if (found == 1) {", "    if (found >= 1) {",
          "two copies running are ok"),
    Fault("check/running.cpp", "    if (facts->written) {", "    if (facts->written || found > 0) {",
          "every running watchdog is said to have acted"),
    Fault("check/running.cpp", "isWow64(process, &wow64) &&\n            wow64 != (system->own == MACHINE_X86)",
          "isWow64(process, &wow64) &&\n            wow64 == (system->own == MACHINE_X86)",
          "on XP x64 the path is read across bitness and not within it"),
    Fault("check/overlays.cpp",
          "            tally->offUntilBoot += state == EWF_DISABLED && command == EWF_ENABLE;",
          "            tally->offUntilBoot += state == EWF_DISABLED;",
          "a volume left off counts as the watchdog's write-back"),
    Fault("check/text.cpp", "    ULONGLONG tenths = whole * 10 + Divide(rest * 10 + divisor / 2, divisor);",
          "    ULONGLONG tenths = whole * 10 + Divide(rest * 10, divisor);", "tenths are cut, not rounded"),
    Fault("check/text.cpp", "                if (escapes && backslashes % 2 == 1) {",
          "                if (escapes) {", "an even run of backslashes escapes the quote too"),
    Fault("check/watch.cpp",
          "        if (first && result == ERROR_ACCESS_DENIED && TotalRamDataSize == 0) {",
          "        if (result == ERROR_ACCESS_DENIED && first && false) {",
          "the live view goes on without rights"),
    Fault("check/watch.cpp",
          "        if (first && result == ERROR_ACCESS_DENIED && TotalRamDataSize == 0) {",
          "        if (first && result == ERROR_ACCESS_DENIED) {",
          "one refused volume ends the live view, though the others were measured"),
    Fault("check/watch.cpp", "    if (result != 0 && TotalRamDataSize == 0) {",
          "    if (result != 0) {", "a volume that cannot be read hides the others' total"),
    Fault("check/watch.cpp", "    DWORD elapsed = watched->lastAt - watched->firstAt;\n    Format(&line",
          "    DWORD elapsed = watched->lastAt - watched->startedAt;\n    Format(&line",
          "the growth is timed from before the first measurement",
          equivalent="the fake's clock moves only in Sleep, and nothing sleeps between the start "
                     "and the first measurement"),
]


def run(command, cwd, log=None):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if log is not None:
        log.write(result.stdout + result.stderr)
    return result


def failed_tests(output):
    """The names CTest lists under "The following tests FAILED"."""
    names = []
    listing = output.split("The following tests FAILED:", 1)
    if len(listing) == 2:
        for line in listing[1].splitlines():
            match = re.match(r"\s+\d+ - (\S+)", line)
            if match:
                names.append(match.group(1))
    return names


class Tree:
    """A scratch copy of the tracked and new files, built per preset."""

    def __init__(self):
        self.path = Path(tempfile.mkdtemp(prefix="tovrin-mutate-"))
        files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT,
                               capture_output=True, text=True, check=True).stdout.split("\n")
        for name in filter(None, files):
            source = ROOT / name
            if source.is_file():
                target = self.path / name
                target.parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(source, target)
        self.configured = set()

    def test(self, preset):
        """Builds and runs the preset's unit tests: (built, failed test names)."""
        if preset not in self.configured:
            if run(["cmake", "--preset", preset], self.path).returncode != 0:
                return False, []
            self.configured.add(preset)
        if run(["cmake", "--build", "--preset", preset, "-j2"], self.path).returncode != 0:
            return False, []
        result = run(["ctest", "--preset", preset, "-j2", "-E", "memcheck", "--timeout", "30"],
                     self.path)
        names = failed_tests(result.stdout)
        if result.returncode != 0 and not names:
            names = ["(ctest failed without naming a test)"]
        return True, names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", nargs="*", default=[""],
                        help="plant only faults whose text or file has one of these")
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    options = parser.parse_args()
    faults = [f for f in FAULTS if any(o in f.what or o in f.file for o in options.only)]
    if options.list:
        for index, fault in enumerate(faults, 1):
            print(f"{index:2} {fault.file}: {fault.what}")
        return 0

    tree = Tree()
    print(f"scratch copy: {tree.path}")
    built, failed = tree.test("host")
    if not built or failed:
        print(f"the unmutated tree does not pass its tests: {failed}")
        return 1
    rows = []
    started = time.monotonic()
    for index, fault in enumerate(faults, 1):
        path = tree.path / fault.file
        original = path.read_text()
        count = original.count(fault.old)
        if count != 1:
            rows.append((index, fault, "not planted", f"its text occurs {count} times"))
            continue
        path.write_text(original.replace(fault.old, fault.new))
        try:
            built, failed = tree.test("host")
            by = "host"
            if built and not failed and fault.asan:
                built, failed = tree.test("host-asan")
                by = "host-asan"
        finally:
            path.write_text(original)
        if not built:
            rows.append((index, fault, "does not build", ""))
        elif failed:
            shown = ", ".join(failed[:3]) + (f" and {len(failed) - 3} more" if len(failed) > 3 else "")
            rows.append((index, fault, "caught", f"{by}: {shown}"))
        else:
            rows.append((index, fault, "NOT CAUGHT", ""))
        print(f"[{index}/{len(faults)} {time.monotonic() - started:.0f} s] "
              f"{rows[-1][2]}: {fault.what}", file=sys.stderr)
    # Leave the tree as it was for the next preset's build.
    tree.test("host")

    print("\n| # | file | fault | result | caught by |\n|---|---|---|---|---|")
    for index, fault, result, by in rows:
        if fault.equivalent:
            result = f"equivalent ({result})"
            by = fault.equivalent + (f"; {by}" if by else "")
        print(f"| {index} | {fault.file} | {fault.what} | {result} | {by} |")
    scored = [r for r in rows if not r[1].equivalent]
    caught = [r for r in scored if r[2] == "caught"]
    broken = [r for r in rows if r[2] in ("not planted", "does not build")]
    print(f"\n{len(caught)} of {len(scored)} non-equivalent faults caught; "
          f"{len(rows) - len(scored)} equivalent; {len(broken)} could not be planted or built")
    shutil.rmtree(tree.path, ignore_errors=True)
    return 0 if len(caught) == len(scored) and not broken else 1


if __name__ == "__main__":
    sys.exit(main())
