// The write filter manager library's calls, one row each: a call is added
// here and nowhere else in C++. Whoever includes this defines the row macros
// to what it makes of a row; one it leaves undefined makes nothing.
//
//   EWF_READ(returns, name, parameters, arguments, missing)
//       the watchdog imports it, the check binds it: it changes nothing
//   EWF_WRITE(returns, name, parameters, arguments, missing)
//       the watchdog imports it; it changes the write filter's state, so the
//       check never defines it
//   EWF_LOOKED_UP(returns, name, parameters, arguments, missing)
//       not imported: the check looks it up by name where it needs it
//
// `missing` is what the check's binding returns where the library lacks the
// call. Rows go in the order of their names, the order in which the import
// table lists them and the check reports a missing one. A new imported call
// also needs its line in platform/ewfapi.def, windows/allowed-imports.txt and
// sim/dll/planted.def, which a unit test holds against this table.

#ifndef EWF_READ
#define EWF_READ(...)
#endif
#ifndef EWF_WRITE
#define EWF_WRITE(...)
#endif
#ifndef EWF_LOOKED_UP
#define EWF_LOOKED_UP(...)
#endif

EWF_READ(BOOL, EwfMgrClose, (HANDLE hDevice), (hDevice), FALSE)
EWF_WRITE(BOOL, EwfMgrCommitAndDisableLive, (HANDLE hDevice), (hDevice), FALSE)
EWF_WRITE(BOOL, EwfMgrEnable, (HANDLE hDevice), (hDevice), FALSE)
EWF_READ(WCHAR, EwfMgrGetDriveLetterFromVolumeName, (LPCWSTR lpVolumeName), (lpVolumeName),
         EWF_NO_DRIVE_LETTER)
EWF_READ(PEWF_VOLUME_CONFIG, EwfMgrGetProtectedVolumeConfig, (HANDLE hDevice), (hDevice), nullptr)
EWF_READ(PEWF_VOLUME_NAME_ENTRY, EwfMgrGetProtectedVolumeList, (void), (), nullptr)
// TRUE only when hibernate once, resume many is active. Not in every
// library, and spelled EwfMgrIsHormActivated in XP Embedded's.
EWF_LOOKED_UP(BOOL, EwfMgrIsHORMActivated, (HANDLE hDevice), (hDevice), FALSE)
EWF_READ(HANDLE, EwfMgrOpenProtected, (LPCWSTR lpVolume), (lpVolume), INVALID_HANDLE_VALUE)
EWF_READ(VOID, EwfMgrVolumeNameEntryPop, (PEWF_VOLUME_NAME_ENTRY * ppVolumeNameList),
         (ppVolumeNameList), VOID())
EWF_READ(VOID, EwfMgrVolumeNameListDelete, (PEWF_VOLUME_NAME_ENTRY pVolumeNameList),
         (pVolumeNameList), VOID())
// Empty, where the library lacks it: otherwise a walk would never find an end.
EWF_READ(BOOL, EwfMgrVolumeNameListIsEmpty, (PEWF_VOLUME_NAME_ENTRY pVolumeNameList),
         (pVolumeNameList), TRUE)

#undef EWF_READ
#undef EWF_WRITE
#undef EWF_LOOKED_UP
