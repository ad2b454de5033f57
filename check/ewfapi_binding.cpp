// The write filter calls that the check makes, bound at run time to the
// library it has loaded, so that the check starts where the library is
// missing or lacks a call, and can say so. Only calls that change nothing
// are defined: the write-back and the enable are not even reachable.
#include "check/library.h"
#include "platform/ewfapi.h"

// By its index in WatchdogEwfCalls, whose names are the ones looked up.
static FARPROC Bound(EwfCall call)
{
    FARPROC routine =
        EwfApiModule != nullptr ? GetProcAddress(EwfApiModule, WatchdogEwfCalls[call]) : nullptr;
    if (routine == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return routine;
}

// Through a plain function pointer type, which any function pointer may be
// cast to and from.
#define BIND(type, call) ((type)(void (*)(void))Bound(call))

// Each call that only reads, from its row: through the library's own where
// it has the call, otherwise the row's stand-in.
#define EWF_READ(returns, name, parameters, arguments, missing)                                    \
    returns WINAPI name parameters                                                                 \
    {                                                                                              \
        auto call = BIND(returns(WINAPI *) parameters, Call##name);                                \
        return call != nullptr ? call arguments : missing;                                         \
    }
#include "platform/ewfapi_calls.h"

BOOL WINAPI EwfMgrIsHORMActivated(HANDLE volume)
{
    FARPROC routine = nullptr;
    if (EwfApiModule != nullptr) {
        routine = GetProcAddress(EwfApiModule, "EwfMgrIsHORMActivated");
        if (routine == nullptr) {
            routine = GetProcAddress(EwfApiModule, "EwfMgrIsHormActivated");
        }
    }
    if (routine == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return ((BOOL(WINAPI *)(HANDLE))(void (*)(void))routine)(volume);
}
