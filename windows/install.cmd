@echo off
rem Installs the Tovrin watchdog from this unpacked kit into C:\Tovrin, for an
rem elevated command prompt on the protected machine. Everything it needs is
rem checked before anything changes; a step that fails later undoes the steps
rem before it. It never commits the write filter and never restarts.
rem Exit codes: 0 installed, 1 refused (nothing changed), 2 failed and undone,
rem 3 installed, but the check finds a problem that the commit below does not
rem settle, did not run to its end, or reports HORM (then do not commit),
rem 4 failed and not fully undone.
rem Delayed expansion would eat each "!" of a path, and without extensions
rem %~dp0, for /f and exit /b fail: both can be inherited, so both are set.
setlocal EnableExtensions DisableDelayedExpansion
rem A variable named ERRORLEVEL would stand in for every exit code read below,
rem and one named DIRCMD would change what dir lists.
set "ERRORLEVEL="
set "DIRCMD="
set "KIT=%~dp0"
set "SELF=%~f0"
set "TARGET=C:\Tovrin"
set "TARGET_PARENT=C:\"
set "RUNKEY=HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
rem A 32-bit prompt on 64-bit Windows would see the 32-bit System32 and its
rem own task store; Sysnative is the real one.
set "NATIVE=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "NATIVE=%SystemRoot%\Sysnative"
set "REINSTALL="
set "MADE_FOLDER="
set "COPIED_INI="
set "HAD_TASK="
set "HAD_RUN="
set "PERMISSIONS_CHANGED="
set "REGISTERED="
set "FAILED_COPY="
set "CODE="

rem Explorer (a double-click, or "Run as administrator") runs a script as
rem cmd /c ""PATH" " and closes the window when it ends, and with it the
rem last lines: then wait for a key before each exit. Quotes become "*",
rem which no path holds, so that a "&" in the path stays inside quotes.
set "PAUSE_AT_END="
set "STARTED_BY=%CMDCMDLINE:"=*%"
rem A command processor without that variable leaves a quote behind.
set "STARTED_BY=%STARTED_BY:"=%"
set "STARTED_BY=%STARTED_BY:* /c =%"
if /i "%STARTED_BY%"=="**%SELF%* *" set "PAUSE_AT_END=1"

rem ---- a folder of this run's own for lists and copies: mkdir refuses a name
rem that exists, so two runs never share one
set "TRIES="
:claim
set "TRIES=%TRIES%x"
if "%TRIES%"=="xxxxxxxxxx" goto refuse_temp
set "WORK=%TEMP%\tovrin-install-%RANDOM%%RANDOM%"
if exist "%WORK%" goto claim
rem mkdir leaves the exit code as it was when it succeeds: from 0, a 1 means
rem another run took the name meanwhile.
call :zero
mkdir "%WORK%"
if errorlevel 1 goto claim
if not exist "%WORK%\" goto claim

rem ---- which Windows, which files: ver is built into cmd, so it is always
rem there; read from a file, as for /f on a command runs AutoRun as well
set "VERLINE="
ver >"%WORK%\ver.txt"
for /f "usebackq eol=/ delims=" %%v in ("%WORK%\ver.txt") do set "VERLINE=%%v"
set "VERNUM="
for %%t in (%VERLINE%) do set "VERNUM=%%t"
if defined VERNUM set "VERNUM=%VERNUM:]=%"
set "MAJOR="
set "MINOR="
for /f "tokens=1,2 delims=." %%a in ("%VERNUM%") do (
    set "MAJOR=%%a"
    set "MINOR=%%b"
)
set "FAMILY="
if "%MAJOR%.%MINOR%"=="5.1" set "FAMILY=xp"
if "%MAJOR%.%MINOR%"=="6.1" set "FAMILY=6"
if "%MAJOR%.%MINOR%"=="6.2" set "FAMILY=6"
if not defined FAMILY goto refuse_edition
set "ARCH=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "ARCH=%PROCESSOR_ARCHITEW6432%"
set "KITARCH="
if /i "%ARCH%"=="x86" set "KITARCH=x86"
if /i "%ARCH%"=="AMD64" set "KITARCH=x64"
if not defined KITARCH goto refuse_arch
if "%FAMILY%"=="xp" if not "%KITARCH%"=="x86" goto refuse_arch
rem No brackets in an echo under if: some cmd implementations read them as a block.
if "%FAMILY%"=="xp" set "EDITIONS=XP Embedded, WES 2009 or POSReady 2009"
if "%FAMILY%"=="6" set "EDITIONS=Standard 7, POSReady 7 or Standard 8"
echo/install: Windows %MAJOR%.%MINOR%: %EDITIONS%; files from %KITARCH%\

rem ---- the kit
set "LACKING="
for %%f in ("%KITARCH%\tovrin.exe" "%KITARCH%\tovrin-check.exe" "tovrin.ini" "tovrin-task.xml") do (
    if not exist "%KIT%%%~f" call :add LACKING %%~f
)
if defined LACKING goto refuse_kit

rem ---- the rights. Each probe answers yes to administrative rights only, and
rem one yes is enough. The key first: reading it needs no service and no
rem optional part of the image, and only Administrators and Backup Operators
rem may. fsutil is optional on XP-era images; net session fails for everyone
rem while the Server service is stopped.
set "ADMINKEY=HKLM\SYSTEM\CurrentControlSet\Control\SecurePipeServers\winreg"
set "ASKED="
set "ELEVATED="
if exist "%NATIVE%\reg.exe" (
    set "ASKED=%ASKED% reg"
    "%NATIVE%\reg.exe" query "%ADMINKEY%" >nul 2>&1
    if not errorlevel 1 if errorlevel 0 set "ELEVATED=1"
)
if not defined ELEVATED if exist "%NATIVE%\fsutil.exe" (
    set "ASKED=%ASKED% fsutil"
    "%NATIVE%\fsutil.exe" dirty query %SystemDrive% >nul 2>&1
    if not errorlevel 1 if errorlevel 0 set "ELEVATED=1"
)
if not defined ELEVATED if exist "%NATIVE%\net.exe" (
    set "ASKED=%ASKED% net"
    "%NATIVE%\net.exe" session >nul 2>&1
    if not errorlevel 1 if errorlevel 0 set "ELEVATED=1"
)
if not defined ASKED goto refuse_cannot_ask
if not defined ELEVATED goto refuse_rights
echo/install: check: this command prompt has administrative rights

rem ---- the tools, by their full path: a tool of that name in the current
rem folder would otherwise run first
if "%FAMILY%"=="xp" set "TOOLS=cacls.exe reg.exe"
if "%FAMILY%"=="6" set "TOOLS=icacls.exe schtasks.exe"
set "LACKING="
for %%t in (%TOOLS%) do if not exist "%NATIVE%\%%t" call :add LACKING %%t
if defined LACKING goto refuse_tools
echo/install: check: %TOOLS% found in %NATIVE%

rem ---- the folder: new, or holding nothing but an earlier install of ours
if exist "%TARGET%" if not exist "%TARGET%\" goto refuse_file
if not exist "%TARGET%\" goto folder_checked
set "REINSTALL=1"
call :list_foreign
if exist "%WORK%\foreign.txt" goto refuse_foreign
set "READONLY="
for %%f in (tovrin.exe tovrin-check.exe) do if exist "%TARGET%\%%f" call :readonly "%TARGET%\%%f"
if defined READONLY goto refuse_readonly
:folder_checked
if defined REINSTALL echo/install: check: %TARGET% holds an earlier install only: it is replaced, tovrin.ini kept
if not defined REINSTALL echo/install: check: %TARGET% does not exist yet

rem ---- a start entry of that name without the folder is someone else's; with
rem it, it is the earlier install's, and a failure puts it back
if "%FAMILY%"=="xp" goto run_value_checked
if exist "%NATIVE%\Tasks\Tovrin" set "HAD_TASK=1"
if defined HAD_TASK if not defined REINSTALL goto refuse_task
goto checked
:run_value_checked
"%NATIVE%\reg.exe" query "%RUNKEY%" /v Tovrin >nul 2>&1
set "RAN=%errorlevel%"
if "%RAN%"=="0" set "HAD_RUN=1"
if not "%RAN%"=="0" if not "%RAN%"=="1" goto refuse_run_unknown
if defined HAD_RUN if not defined REINSTALL goto refuse_run
:checked
echo/install: check: all checks passed, nothing changed so far

rem ==== from here on every step is undone if a later one fails ====
if defined REINSTALL goto backup
echo/install: step: create %TARGET%
mkdir "%TARGET%"
if not exist "%TARGET%\" goto fail_folder
set "MADE_FOLDER=1"
goto copy

:backup
echo/install: step: keep what this install replaces in "%WORK%"
for %%f in (tovrin.exe tovrin-check.exe) do if exist "%TARGET%\%%f" copy /y "%TARGET%\%%f" "%WORK%\%%f" >nul
for %%f in (tovrin.exe tovrin-check.exe) do if exist "%TARGET%\%%f" if not exist "%WORK%\%%f" goto fail_backup
if not defined HAD_TASK goto backup_permissions
copy /y "%NATIVE%\Tasks\Tovrin" "%WORK%\task.xml" >nul
if not exist "%WORK%\task.xml" goto fail_backup
:backup_permissions
if "%FAMILY%"=="xp" goto backup_permissions_xp
"%NATIVE%\icacls.exe" "%TARGET%" /save "%WORK%\permissions.txt" /T >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_save_permissions
goto copy
:backup_permissions_xp
rem cacls cannot set back what it lists: the list is for the operator.
"%NATIVE%\cacls.exe" "%TARGET%" >"%WORK%\permissions.txt" 2>&1

:copy
rem The watchdog first: a running one cannot be replaced, and then nothing else is.
for %%f in (tovrin.exe tovrin-check.exe) do call :copy_shipped %%f
if defined FAILED_COPY goto fail_copy
if exist "%TARGET%\tovrin.ini" (
    echo/install: step: keep %TARGET%\tovrin.ini as it is, with its limit
) else (
    echo/install: step: copy the sample tovrin.ini to %TARGET%
    call :zero
    copy /y "%KIT%tovrin.ini" "%TARGET%\tovrin.ini" >nul
    if errorlevel 1 goto fail_ini
    if not exist "%TARGET%\tovrin.ini" goto fail_ini
    set "COPIED_INI=1"
)

set "PERMISSIONS_CHANGED=1"
if "%FAMILY%"=="xp" goto permissions_xp
rem By SID, so that the line works whatever the groups are called.
echo/install: step: icacls %TARGET%: only Administrators and SYSTEM may change it, Users may read and run
"%NATIVE%\icacls.exe" "%TARGET%" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_permissions
"%NATIVE%\icacls.exe" "%TARGET%\*" /reset >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_permissions
goto register_task

:permissions_xp
rem Without /E cacls asks "Are you sure (Y/N)?" with a letter that depends on
rem the language; editing needs no answer. The names are the ones Japanese
rem and English Windows share.
echo/install: step: cacls %TARGET%: only Administrators and SYSTEM may change it, Users may read
"%NATIVE%\cacls.exe" "%TARGET%" /T /E /R Users Everyone "CREATOR OWNER" >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_permissions
"%NATIVE%\cacls.exe" "%TARGET%" /T /E /G Administrators:F SYSTEM:F Users:R >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_permissions
goto register_run

:register_task
rem The kit's task, not /SC ONLOGON: that would stop the watchdog 72 hours
rem after each log-on, and keep it from starting on batteries.
echo/install: step: schtasks /Create /TN Tovrin /XML tovrin-task.xml (at every log-on, elevated)
set "REGISTERED=task"
"%NATIVE%\schtasks.exe" /Create /TN Tovrin /XML "%KIT%tovrin-task.xml" /F >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_register
if not exist "%NATIVE%\Tasks\Tovrin" goto fail_register
goto installed

:register_run
echo/install: step: Run value Tovrin under %RUNKEY%
set "REGISTERED=run"
"%NATIVE%\reg.exe" add "%RUNKEY%" /v Tovrin /t REG_SZ /d "%TARGET%\tovrin.exe" /f >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_register
goto installed

:installed
echo/install: installed in %TARGET%
echo/install: the account that logs on must be a member of Administrators: the
echo/install: watchdog starts at its log-on and sees no overlay without those rights
echo/install: running %TARGET%\tovrin-check.exe
echo/
"%TARGET%\tovrin-check.exe" >"%WORK%\check.txt"
set "CHECKED=%errorlevel%"
type "%WORK%\check.txt"
echo/
rem Files just written to a protected volume are "persist" problems until the
rem commit below; any other problem needs fixing before that. HORM forbids it.
set "UNSETTLED="
set "HORM="
if "%CHECKED%"=="2" for /f "usebackq eol=/ tokens=1,2" %%a in ("%WORK%\check.txt") do (
    if "%%a"=="PROBLEM" if not "%%b"=="persist" set "UNSETTLED=1"
    if "%%a"=="PROBLEM" if "%%b"=="horm" set "HORM=1"
)
rmdir /s /q "%WORK%"
set "CODE=3"
if "%CHECKED%"=="0" set "CODE=0"
if "%CHECKED%"=="1" set "CODE=0"
if "%CHECKED%"=="2" if not defined UNSETTLED set "CODE=0"
rem The check's exit code, told exactly: 0 to 2 are its verdicts, 3 its usage.
if "%CHECKED%"=="0" goto check_ready
if "%CHECKED%"=="1" goto check_warnings
if "%CHECKED%"=="2" goto check_not_ready
if "%CHECKED%"=="3" goto check_usage
if "%CHECKED%"=="9009" goto check_not_started
if "%CHECKED:~0,1%"=="-" goto check_crashed
echo/install: the check ended with exit code %CHECKED%, which it never gives: it did not finish
goto check_unsettled
:check_ready
echo/install: the check says ready, exit code 0; "running" lasts until the next log-on
goto check_told
:check_warnings
echo/install: the check says ready with warnings, exit code 1: read each WARNING line
goto check_told
:check_not_ready
if defined HORM goto horm
if defined UNSETTLED goto check_problems
echo/install: the check says not ready, exit code 2, for "persist" lines alone, which the commit below settles
goto check_told
:check_problems
echo/install: the check says not ready, exit code 2: fix each PROBLEM line first
goto check_told
:check_usage
echo/install: the check answered with its usage, exit code 3: it checked nothing
goto check_unsettled
:check_not_started
echo/install: the check could not be started, exit code 9009
goto check_unsettled
:check_crashed
call :hex %CHECKED%
echo/install: the check crashed with status %CHECKED%, 0x%HEX%: it checked nothing
:check_unsettled
echo/install: run %TARGET%\tovrin-check.exe by hand, and again once that is mended
:check_told
call :remaining
goto end

:horm
echo/install: HORM (hibernate once, resume many) is active: do NOT commit. Every
echo/install: start resumes the hibernation file saved before this install, which
echo/install: expects each protected volume exactly as it was then: a commit
echo/install: changes the volume under it and breaks every later resume. This
echo/install: install is gone at the next restart. To keep it, deactivate HORM as
echo/install: the image's servicing procedure says, then run install.cmd again.
goto end

rem ==== refusals: nothing has been changed ====
:refuse_temp
echo/install: refused: cannot make a folder of its own in TEMP "%TEMP%"
goto refused_no_work
:refuse_edition
echo/install: refused: Windows "%VERNUM%" is not XP Embedded, WES 2009, POSReady 2009 (5.1), Standard 7, POSReady 7 (6.1) or Standard 8 (6.2)
goto refused
:refuse_arch
echo/install: refused: processor architecture %ARCH% on Windows %MAJOR%.%MINOR%: this kit has x86 for 32-bit Windows and x64 for 64-bit Standard 7 and 8
goto refused
:refuse_kit
echo/install: refused: the kit beside install.cmd lacks%LACKING%: unpack the whole archive again
goto refused
:refuse_cannot_ask
echo/install: refused: none of reg.exe, fsutil.exe and net.exe is in %NATIVE%, so whether this prompt has administrative rights cannot be told
goto refused
:refuse_rights
echo/install: refused: this command prompt has no administrative rights (asked:%ASKED%)
if not "%ASKED%"==" net" goto refuse_rights_how
echo/install: only "net session" could ask, and it fails for administrators too while
echo/install: the Server service is stopped: start it (net start server), or add reg.exe
:refuse_rights_how
echo/install: Standard 7 and 8: right-click cmd.exe, "Run as administrator"; XP era: log on as an administrator
goto refused
:refuse_tools
echo/install: refused: this image lacks%LACKING% in %NATIVE%
echo/install: add it to the image, or install by hand as README.txt describes
goto refused
:refuse_file
echo/install: refused: %TARGET% is a file, not a folder
goto refused
:refuse_foreign
echo/install: refused: %TARGET% holds other things than an earlier install:
for /f "usebackq eol=/ delims=" %%e in ("%WORK%\foreign.txt") do echo/install:   %%e
echo/install: move them elsewhere, or install by hand into another folder as README.txt describes
goto refused
:refuse_readonly
echo/install: refused: read-only in %TARGET%:%READONLY%: a copy from a CD keeps that
echo/install: attribute, and copy cannot replace such a file. Clear it first:
echo/install:   attrib -r %TARGET%\*.exe
goto refused
:refuse_task
echo/install: refused: a scheduled task named Tovrin exists, but %TARGET% does not
echo/install: look at it with: schtasks /Query /TN Tovrin /V /FO LIST
goto refused
:refuse_run
echo/install: refused: a Run value named Tovrin exists under %RUNKEY%, but %TARGET% does not
echo/install: look at it with: reg query "%RUNKEY%" /v Tovrin
goto refused
:refuse_run_unknown
echo/install: refused: reg query for the Run value Tovrin ended with exit code %RAN%, neither found (0) nor absent (1)
echo/install: look at it with: reg query "%RUNKEY%" /v Tovrin
goto refused
:refused
rmdir /s /q "%WORK%"
:refused_no_work
echo/install: nothing was changed
set "CODE=1"
goto end

rem ==== failures after changes began: undo, then stop ====
:fail_folder
echo/install: FAILED: cannot create %TARGET%
goto undo
:fail_backup
echo/install: FAILED: cannot keep a copy of the earlier files, task and permissions in "%WORK%"
goto undo
:fail_save_permissions
echo/install: FAILED: icacls /save of the permissions of %TARGET% ended with exit code %RAN%
goto undo
:fail_copy
echo/install: FAILED: cannot copy %KITARCH%\%FAILED_COPY% to %TARGET%\%FAILED_COPY%: a program runs from it.
echo/install: The watchdog: end it first (taskkill /F /IM tovrin.exe); the check's /watch: Ctrl+C in its window
goto undo
:fail_ini
echo/install: FAILED: cannot copy tovrin.ini into %TARGET%
goto undo
:fail_permissions
rem Neither tool's exit codes are documented: say what came back and where to look.
echo/install: FAILED: setting the permissions of %TARGET% ended with exit code %RAN%
if "%FAMILY%"=="xp" echo/install: look at them with: cacls %TARGET%
if "%FAMILY%"=="6" echo/install: look at them with: icacls %TARGET%
if "%FAMILY%"=="xp" echo/install: on a FAT or FAT32 volume there are no permissions to set: install by hand as README.txt describes
goto undo
:fail_register
echo/install: FAILED: cannot register the start at log-on (exit code %RAN%)
goto undo

:undo
set "LEFT="
if "%REGISTERED%"=="task" call :undo_task
if "%REGISTERED%"=="run" if not defined HAD_RUN call :undo_run
if "%REGISTERED%"=="run" if defined HAD_RUN echo/install: undo: the Run value Tovrin is left as the earlier install had it
if defined MADE_FOLDER goto undo_folder
for %%f in (tovrin.exe tovrin-check.exe) do if exist "%WORK%\%%f" call :put_back %%f
if defined COPIED_INI del /f /q "%TARGET%\tovrin.ini"
if defined COPIED_INI if exist "%TARGET%\tovrin.ini" set "LEFT=%LEFT% %TARGET%\tovrin.ini;"
if defined PERMISSIONS_CHANGED call :undo_permissions
goto undone
:undo_folder
echo/install: undo: remove %TARGET%
rmdir /s /q "%TARGET%"
if exist "%TARGET%" set "LEFT=%LEFT% the folder %TARGET%;"
:undone
if defined LEFT goto undo_failed
rmdir /s /q "%WORK%"
echo/install: everything this run changed is undone
set "CODE=2"
goto end
:undo_failed
echo/install: UNDO FAILED: still as this run left it:%LEFT% finish by hand (README.txt, "Removing it")
echo/install: what it replaced is kept in "%WORK%"
set "CODE=4"
goto end

:undo_task
if defined HAD_TASK goto undo_task_again
echo/install: undo: schtasks /Delete /TN Tovrin
"%NATIVE%\schtasks.exe" /Delete /TN Tovrin /F >nul
if exist "%NATIVE%\Tasks\Tovrin" set "LEFT=%LEFT% the task Tovrin;"
exit /b 0
:undo_task_again
echo/install: undo: register the earlier task Tovrin again, as Task Scheduler kept it
"%NATIVE%\schtasks.exe" /Create /TN Tovrin /XML "%WORK%\task.xml" /F >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" set "LEFT=%LEFT% the task Tovrin, not the earlier one (exit code %RAN%);"
exit /b 0

:undo_run
echo/install: undo: delete the Run value Tovrin
"%NATIVE%\reg.exe" delete "%RUNKEY%" /v Tovrin /f >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" set "LEFT=%LEFT% the Run value Tovrin;"
exit /b 0

:put_back
echo/install: undo: put back the earlier %TARGET%\%1
call :zero
copy /y "%WORK%\%1" "%TARGET%\%1" >nul
if errorlevel 1 set "LEFT=%LEFT% %TARGET%\%1 of this kit;"
exit /b 0

:undo_permissions
if "%FAMILY%"=="xp" goto undo_permissions_xp
echo/install: undo: put back the earlier permissions of %TARGET% (icacls /restore)
"%NATIVE%\icacls.exe" "%TARGET_PARENT%" /restore "%WORK%\permissions.txt" >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" set "LEFT=%LEFT% the permissions of %TARGET%, icacls /restore ended with exit code %RAN%;"
exit /b 0
:undo_permissions_xp
rem cacls has no way to set a list back: say where the earlier one is.
set "LEFT=%LEFT% the permissions cacls set on %TARGET%, the earlier ones are listed in permissions.txt;"
exit /b 0

rem ==== helpers ====
:add
rem Appends a name to the list in the variable named first.
call set "%1=%%%1%% %~2"
exit /b 0

:list_foreign
rem Into foreign.txt, each name in the folder that is not of this kit. From a
rem file, so that AutoRun adds nothing; eol=/ as no name holds one, where the
rem default ";" would skip a name that starts with it.
dir /b /a "%TARGET%" >"%WORK%\list.txt" 2>nul
for /f "usebackq eol=/ delims=" %%e in ("%WORK%\list.txt") do (
    if /i not "%%e"=="tovrin.exe" if /i not "%%e"=="tovrin-check.exe" if /i not "%%e"=="tovrin.ini" >>"%WORK%\foreign.txt" echo/%%e
)
exit /b 0

:readonly
set "ATTRIBUTES=%~a1"
if "%ATTRIBUTES:~1,1%"=="r" set "READONLY=%READONLY% %~nx1"
exit /b 0

:copy_shipped
if defined FAILED_COPY exit /b 0
echo/install: step: copy %KITARCH%\%1 to %TARGET%
call :zero
copy /y "%KIT%%KITARCH%\%1" "%TARGET%\%1" >nul
if errorlevel 1 set "FAILED_COPY=%1"
if not exist "%TARGET%\%1" set "FAILED_COPY=%1"
exit /b 0

:hex
rem A status as Windows names it, 8 hex digits: 0xC0000005 is an access violation.
set "HEX="
for %%i in (28 24 20 16 12 8 4 0) do call :nibble %1 %%i
exit /b 0
:nibble
set /a "NIBBLE=(%~1>>%~2)&15"
set "DIGITS=0123456789ABCDEF"
call set "HEX=%HEX%%%DIGITS:~%NIBBLE%,1%%"
exit /b 0

:remaining
echo/install: NOT DONE YET: while the write filter protects a volume, all of this
echo/install: lives in its overlay and is gone at the next restart. Commit it:
echo/install:   ewfmgr -all            shows every protected volume and its state
echo/install: For C: and every other volume that shows ENABLED, either
echo/install:   ewfmgr c: -commit      then restart (a power cut before loses it)
echo/install: or, without waiting for a restart:
echo/install:   ewfmgr c: -commitanddisable -live
echo/install:   ewfmgr c: -enable      then restart: protection is off until then
echo/install: Both work in RAM-REG mode too; there only -disable without a commit fails.
echo/install: A commit keeps everything written since the boot, not only this install.
echo/install: Then log on as the machine's user and run %TARGET%\tovrin-check.exe again.
exit /b 0

:zero
exit /b 0

:end
rem Explorer's window closes with the script: keep it open until a key.
if defined PAUSE_AT_END echo/install: exit code %CODE%: press a key to close this window
if defined PAUSE_AT_END pause >nul
exit /b %CODE%
