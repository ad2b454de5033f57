// The simulated EWFAPI.dll: the write filter model behind the manager
// library's real export names, driven by a scenario file and journalling every
// call, so that the real executables can be run end to end under Wine.
//
// Scenario (EWFSIM_SCENARIO, else ewfsim.txt beside the DLL), one line each:
//   volume NAME [letter=C] [size=N] [growth=N] [type=ram|ramreg|disk]
//          [state=enabled|disabled] [boot=none|enable|disable|commit] [horm=1]
//   step NAME at=MS size=N          the overlay holds N bytes from MS on
//   fail API error=N [volume=NAME] [nth=N]
//   delay API ms=N                  each call of API takes N ms longer
// Sizes take a K, M or G suffix (powers of 1024); times are milliseconds
// since the library was loaded.
//
// Journal (EWFSIM_JOURNAL, else ewfsim.log beside the DLL): one line a call,
// "MS API(ARGS) -> RESULT", and at unload the outstanding lists and handles
// and every volume's final state.
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "sim/model/ewf_model.h"

namespace
{

struct Step {
    size_t volume;
    DWORD at;
    LONGLONG size;
    bool done;
};

HANDLE Journal = INVALID_HANDLE_VALUE;
DWORD LoadedAt = 0;
DWORD AdvancedTo = 0;
std::vector<Step> Steps;
std::map<std::string, DWORD> Delays;

DWORD Elapsed()
{
    return GetTickCount() - LoadedAt;
}

void Write(const std::string &line)
{
    if (Journal == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(Journal, text.data(), (DWORD)text.size(), &written, nullptr);
}

// A path from the environment, else the named file beside this DLL.
std::string PathFor(const char *variable, const char *fileName, HMODULE module)
{
    char path[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
    if (length > 0 && length < sizeof path) {
        return path;
    }
    length = GetModuleFileNameA(module, path, MAX_PATH);
    std::string result(path, length);
    size_t slash = result.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : result.substr(0, slash + 1)) + fileName;
}

LONGLONG Size(const std::string &text)
{
    char *end = nullptr;
    LONGLONG value = strtoll(text.c_str(), &end, 10);
    switch (end != nullptr ? *end : 0) {
    case 'K':
    case 'k':
        return value << 10;
    case 'M':
    case 'm':
        return value << 20;
    case 'G':
    case 'g':
        return value << 30;
    default:
        return value;
    }
}

std::vector<std::string> Words(const std::string &line)
{
    std::vector<std::string> words;
    size_t start = line.find_first_not_of(" \t\r");
    while (start != std::string::npos) {
        size_t end = line.find_first_of(" \t\r", start);
        words.push_back(line.substr(start, end - start));
        start = end == std::string::npos ? end : line.find_first_not_of(" \t\r", end);
    }
    return words;
}

void Bad(const std::string &line)
{
    Write("scenario: cannot read: " + line);
}

void ReadScenario(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Write("scenario: none at " + path);
        return;
    }
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    CloseHandle(file);

    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#') {
            continue;
        }
        std::map<std::string, std::string> options;
        for (size_t i = 2; i < words.size(); ++i) {
            size_t equals = words[i].find('=');
            if (equals == std::string::npos) {
                Bad(line);
                continue;
            }
            options[words[i].substr(0, equals)] = words[i].substr(equals + 1);
        }
        if (words.size() < 2) {
            Bad(line);
        } else if (words[0] == "volume") {
            sim::Volume &volume = sim::AddVolume(words[1], 'C', 0);
            if (options.count("letter")) {
                volume.driveLetter = (WCHAR)(unsigned char)options["letter"][0];
            }
            volume.ramDataSize = Size(options["size"]);
            volume.growthPerSecond = Size(options["growth"]);
            std::string type = options["type"];
            volume.type = type == "disk" ? EWF_DISK : type == "ramreg" ? EWF_RAM_REG : EWF_RAM;
            volume.state = options["state"] == "disabled" ? EWF_DISABLED : EWF_ENABLED;
            volume.horm = options["horm"] == "1";
            // The command pending for the next boot, as ewfmgr's -commit sets it.
            const std::string &boot = options["boot"];
            volume.bootCommand = boot == "commit"    ? EWF_COMMIT
                                 : boot == "enable"  ? EWF_ENABLE
                                 : boot == "disable" ? EWF_DISABLE
                                                     : EWF_NO_CMD;
        } else if (words[0] == "step") {
            sim::Volume *volume = sim::FindVolume(sim::Widen(words[1]));
            if (volume == nullptr) {
                Bad(line);
                continue;
            }
            Steps.push_back({(size_t)(volume - &sim::TheWorld().volumes[0]),
                             (DWORD)strtoul(options["at"].c_str(), nullptr, 10),
                             Size(options["size"]), false});
        } else if (words[0] == "fail") {
            sim::Failure rule;
            rule.api = words[1];
            rule.error = (DWORD)strtoul(options["error"].c_str(), nullptr, 10);
            rule.volume = options["volume"];
            rule.nth = (unsigned)strtoul(options["nth"].c_str(), nullptr, 10);
            sim::TheWorld().failures.push_back(rule);
        } else if (words[0] == "delay") {
            Delays[words[1]] = (DWORD)strtoul(options["ms"].c_str(), nullptr, 10);
        } else {
            Bad(line);
        }
    }
}

const char *StateName(EWF_STATE state)
{
    return state == EWF_ENABLED ? "enabled" : "disabled";
}

const char *CommandName(EWF_CMD command)
{
    static const char *const Names[] = {"none", "enable", "disable", "set-level", "commit"};
    return (unsigned)command < 5 ? Names[command] : "?";
}

void WriteFinalState()
{
    Write(std::to_string(Elapsed()) + " end: outstanding lists " +
          std::to_string(sim::OutstandingLists()) + ", entries " +
          std::to_string(sim::OutstandingEntries()) + ", handles " +
          std::to_string(sim::OutstandingHandles()) + ", misuse " +
          std::to_string(sim::TheWorld().misuse.size()));
    for (const std::string &what : sim::TheWorld().misuse) {
        Write("misuse: " + what);
    }
    for (const sim::Volume &volume : sim::TheWorld().volumes) {
        Write("volume " + sim::Narrow(volume.name) +
              " letter=" + std::string(1, (char)volume.driveLetter) +
              " state=" + StateName(volume.state) + " boot=" + CommandName(volume.bootCommand) +
              " size=" + std::to_string(volume.ramDataSize) + " committed=" +
              std::to_string(volume.committedBytes) + " commits=" + std::to_string(volume.commits) +
              " enables=" + std::to_string(volume.enables));
    }
}

} // namespace

namespace sim
{

void SimSetLastError(DWORD error)
{
    SetLastError(error);
}

void *SimAllocRecord(size_t size)
{
    return LocalAlloc(LPTR, size);
}

void SimBeforeCall(const char *api)
{
    DWORD now = Elapsed();
    AdvanceTime(now - AdvancedTo);
    AdvancedTo = now;
    for (Step &step : Steps) {
        if (!step.done && now >= step.at) {
            TheWorld().volumes[step.volume].ramDataSize = step.size;
            step.done = true;
        }
    }
    auto delay = Delays.find(api);
    if (delay != Delays.end()) {
        Sleep(delay->second);
    }
}

void SimJournal(const char *api, const std::string &args, const std::string &result)
{
    Write(std::to_string(Elapsed()) + " " + api + "(" + args + ")" +
          (result.empty() ? "" : " -> " + result));
}

} // namespace sim

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        LoadedAt = GetTickCount();
        std::string journal = PathFor("EWFSIM_JOURNAL", "ewfsim.log", instance);
        Journal = CreateFileA(journal.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        Write("0 begin");
        ReadScenario(PathFor("EWFSIM_SCENARIO", "ewfsim.txt", instance));
    } else if (reason == DLL_PROCESS_DETACH) {
        WriteFinalState();
        if (Journal != INVALID_HANDLE_VALUE) {
            CloseHandle(Journal);
            Journal = INVALID_HANDLE_VALUE;
        }
    }
    return TRUE;
}
