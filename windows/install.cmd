@echo off
rem Installs the Tovrin watchdog from this unpacked kit into C:\Tovrin, for an
rem elevated command prompt on the protected machine. Everything it needs is
rem checked before anything changes; a step that fails later undoes the steps
rem before it. It never commits the write filter and never restarts.
rem Exit codes: 0 installed, 1 refused (nothing changed), 2 failed and undone,
rem 3 installed but the check finds a problem that the commit below does not
rem settle, 4 failed and not fully undone.
setlocal
set "KIT=%~dp0"
set "TARGET=C:\Tovrin"
set "RUNKEY=HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
rem A 32-bit prompt on 64-bit Windows would see the 32-bit System32 and its
rem own task store; Sysnative is the real one.
set "NATIVE=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "NATIVE=%SystemRoot%\Sysnative"
set "REINSTALL="
set "MADE_FOLDER="
set "COPIED_INI="
set "BACKUP="
set "REGISTERED="

rem ---- which Windows, which files: ver is built into cmd, so it is always there
set "VERLINE="
for /f "delims=" %%v in ('ver') do set "VERLINE=%%v"
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
echo install: Windows %MAJOR%.%MINOR%: %EDITIONS%; files from %KITARCH%\

rem ---- the kit
set "LACKING="
for %%f in ("%KITARCH%\tovrin.exe" "%KITARCH%\tovrin-check.exe" "tovrin.ini" "tovrin-task.xml") do (
    if not exist "%KIT%%%~f" call :add LACKING %%~f
)
if defined LACKING goto refuse_kit

rem ---- the rights: fsutil needs them even where the Server service, which
rem "net session" asks, is stopped; either answering yes is enough
set "ASKED="
set "ELEVATED="
if exist "%NATIVE%\fsutil.exe" (
    set "ASKED=1"
    "%NATIVE%\fsutil.exe" dirty query %SystemDrive% >nul 2>&1
    if not errorlevel 1 set "ELEVATED=1"
)
if not defined ELEVATED if exist "%NATIVE%\net.exe" (
    set "ASKED=1"
    "%NATIVE%\net.exe" session >nul 2>&1
    if not errorlevel 1 set "ELEVATED=1"
)
if not defined ASKED goto refuse_cannot_ask
if not defined ELEVATED goto refuse_rights
echo install: check: this command prompt has administrative rights

rem ---- the tools, by their full path: a tool of that name in the current
rem folder would otherwise run first
if "%FAMILY%"=="xp" set "TOOLS=cacls.exe reg.exe"
if "%FAMILY%"=="6" set "TOOLS=icacls.exe schtasks.exe"
set "LACKING="
for %%t in (%TOOLS%) do if not exist "%NATIVE%\%%t" call :add LACKING %%t
if defined LACKING goto refuse_tools
echo install: check: %TOOLS% found in %NATIVE%

rem ---- the folder: new, or holding nothing but an earlier install of ours
if exist "%TARGET%" if not exist "%TARGET%\" goto refuse_file
set "FOREIGN="
if exist "%TARGET%\" (
    set "REINSTALL=1"
    for /f "delims=" %%e in ('dir /b /a "%TARGET%"') do call :ours "%%e"
)
if defined FOREIGN goto refuse_foreign
if defined REINSTALL echo install: check: %TARGET% holds an earlier install only: it is replaced, tovrin.ini kept
if not defined REINSTALL echo install: check: %TARGET% does not exist yet

rem ---- a start entry of that name without the folder is someone else's
if defined REINSTALL goto checked
if "%FAMILY%"=="6" if exist "%NATIVE%\Tasks\Tovrin" goto refuse_task
if "%FAMILY%"=="xp" (
    "%NATIVE%\reg.exe" query "%RUNKEY%" /v Tovrin >nul 2>&1
    if not errorlevel 1 goto refuse_run
)
:checked
echo install: check: all checks passed, nothing changed so far

rem ==== from here on every step is undone if a later one fails ====
if defined REINSTALL goto backup
echo install: step: create %TARGET%
mkdir "%TARGET%"
if not exist "%TARGET%\" goto fail_folder
set "MADE_FOLDER=1"
goto copy

:backup
set "BACKUP=%TEMP%\tovrin-install-%RANDOM%%RANDOM%"
echo install: step: keep the earlier tovrin.exe and tovrin-check.exe in %BACKUP%
mkdir "%BACKUP%"
for %%f in (tovrin.exe tovrin-check.exe) do if exist "%TARGET%\%%f" copy /y "%TARGET%\%%f" "%BACKUP%\" >nul
for %%f in (tovrin.exe tovrin-check.exe) do if exist "%TARGET%\%%f" if not exist "%BACKUP%\%%f" goto fail_backup

:copy
rem The watchdog first: a running one cannot be replaced, and then nothing else is.
for %%f in (tovrin.exe tovrin-check.exe) do (
    echo install: step: copy %KITARCH%\%%f to %TARGET%
    copy /y "%KIT%%KITARCH%\%%f" "%TARGET%\%%f" >nul
    if errorlevel 1 goto fail_copy
    if not exist "%TARGET%\%%f" goto fail_copy
)
if exist "%TARGET%\tovrin.ini" (
    echo install: step: keep %TARGET%\tovrin.ini as it is, with its limit
) else (
    echo install: step: copy the sample tovrin.ini to %TARGET%
    copy /y "%KIT%tovrin.ini" "%TARGET%\tovrin.ini" >nul
    if errorlevel 1 goto fail_ini
    set "COPIED_INI=1"
)

if "%FAMILY%"=="xp" goto permissions_xp
rem By SID, so that the line works whatever the groups are called.
echo install: step: icacls %TARGET%: only Administrators and SYSTEM may change it, Users may read and run
"%NATIVE%\icacls.exe" "%TARGET%" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX >nul
if errorlevel 1 goto fail_permissions
"%NATIVE%\icacls.exe" "%TARGET%\*" /reset >nul
if errorlevel 1 goto fail_permissions
goto register_task

:permissions_xp
rem Without /E cacls asks "Are you sure (Y/N)?" with a letter that depends on
rem the language; editing needs no answer. The names are the ones Japanese
rem and English Windows share.
echo install: step: cacls %TARGET%: only Administrators and SYSTEM may change it, Users may read
"%NATIVE%\cacls.exe" "%TARGET%" /T /E /R Users Everyone "CREATOR OWNER" >nul
if errorlevel 1 goto fail_permissions
"%NATIVE%\cacls.exe" "%TARGET%" /T /E /G Administrators:F SYSTEM:F Users:R >nul
if errorlevel 1 goto fail_permissions
goto register_run

:register_task
rem The kit's task, not /SC ONLOGON: that would stop the watchdog 72 hours
rem after each log-on, and keep it from starting on batteries.
echo install: step: schtasks /Create /TN Tovrin /XML tovrin-task.xml (at every log-on, elevated)
"%NATIVE%\schtasks.exe" /Create /TN Tovrin /XML "%KIT%tovrin-task.xml" /F >nul
if errorlevel 1 goto fail_register
set "REGISTERED=task"
if not exist "%NATIVE%\Tasks\Tovrin" goto fail_register
goto installed

:register_run
echo install: step: Run value Tovrin under %RUNKEY%
"%NATIVE%\reg.exe" add "%RUNKEY%" /v Tovrin /t REG_SZ /d "%TARGET%\tovrin.exe" /f >nul
if errorlevel 1 goto fail_register
set "REGISTERED=run"
goto installed

:installed
if defined BACKUP rmdir /s /q "%BACKUP%"
echo install: installed in %TARGET%
echo install: the account that logs on must be a member of Administrators: the
echo install: watchdog starts at its log-on and sees no overlay without those rights
echo install: running %TARGET%\tovrin-check.exe
echo.
"%TARGET%\tovrin-check.exe"
set "CHECKED=%errorlevel%"
echo.
rem Files just written to a protected volume are "persist" problems until the
rem commit below; any other problem needs fixing before that.
set "UNSETTLED="
if "%CHECKED%"=="2" for /f "tokens=1,2" %%a in ('"%TARGET%\tovrin-check.exe"') do (
    if "%%a"=="PROBLEM" if not "%%b"=="persist" set "UNSETTLED=1"
)
set "RESULT=0"
if "%CHECKED%"=="2" if defined UNSETTLED set "RESULT=3"
if "%RESULT%"=="3" echo install: the check says not ready, exit code 2: fix each PROBLEM line first
if "%RESULT%"=="0" echo install: the check ended with exit code %CHECKED%; "persist" lasts until the commit below, "running" until the next log-on
call :remaining
exit /b %RESULT%

rem ==== refusals: nothing has been changed ====
:refuse_edition
echo install: refused: Windows "%VERNUM%" is not XP Embedded, WES 2009, POSReady 2009 (5.1), Standard 7, POSReady 7 (6.1) or Standard 8 (6.2)
goto refused
:refuse_arch
echo install: refused: processor architecture %ARCH% on Windows %MAJOR%.%MINOR%: this kit has x86 for 32-bit Windows and x64 for 64-bit Standard 7 and 8
goto refused
:refuse_kit
echo install: refused: the kit beside install.cmd lacks%LACKING%: unpack the whole archive again
goto refused
:refuse_cannot_ask
echo install: refused: neither fsutil.exe nor net.exe is in %NATIVE%, so whether this prompt has administrative rights cannot be told
goto refused
:refuse_rights
echo install: refused: this command prompt has no administrative rights
echo install: Standard 7 and 8: right-click cmd.exe, "Run as administrator"; XP era: log on as an administrator
goto refused
:refuse_tools
echo install: refused: this image lacks%LACKING% in %NATIVE%
echo install: add it to the image, or install by hand as README.txt describes
goto refused
:refuse_file
echo install: refused: %TARGET% is a file, not a folder
goto refused
:refuse_foreign
echo install: refused: %TARGET% holds other things than an earlier install:%FOREIGN%
echo install: move them elsewhere, or install by hand into another folder as README.txt describes
goto refused
:refuse_task
echo install: refused: a scheduled task named Tovrin exists, but %TARGET% does not
echo install: look at it with: schtasks /Query /TN Tovrin /V /FO LIST
goto refused
:refuse_run
echo install: refused: a Run value named Tovrin exists under %RUNKEY%, but %TARGET% does not
echo install: look at it with: reg query "%RUNKEY%" /v Tovrin
goto refused
:refused
echo install: nothing was changed
exit /b 1

rem ==== failures after changes began: undo, then stop ====
:fail_folder
echo install: FAILED: cannot create %TARGET%
goto undo
:fail_backup
echo install: FAILED: cannot keep a copy of the earlier files in %BACKUP%
goto undo
:fail_copy
echo install: FAILED: cannot copy into %TARGET%: if the watchdog runs, end it first (taskkill /F /IM tovrin.exe)
goto undo
:fail_ini
echo install: FAILED: cannot copy tovrin.ini into %TARGET%
goto undo
:fail_permissions
echo install: FAILED: cannot set the permissions of %TARGET%
goto undo
:fail_register
echo install: FAILED: cannot register the start at log-on
goto undo

:undo
set "LEFT="
if "%REGISTERED%"=="task" (
    echo install: undo: schtasks /Delete /TN Tovrin
    "%NATIVE%\schtasks.exe" /Delete /TN Tovrin /F >nul
    if exist "%NATIVE%\Tasks\Tovrin" set "LEFT=%LEFT% the task Tovrin;"
)
if "%REGISTERED%"=="run" (
    echo install: undo: delete the Run value Tovrin
    "%NATIVE%\reg.exe" delete "%RUNKEY%" /v Tovrin /f >nul
    if not errorlevel 1 goto undo_files
    set "LEFT=%LEFT% the Run value Tovrin;"
)
:undo_files
if defined MADE_FOLDER (
    echo install: undo: remove %TARGET%
    rmdir /s /q "%TARGET%"
)
if defined MADE_FOLDER if exist "%TARGET%" set "LEFT=%LEFT% the folder %TARGET%;"
if defined BACKUP if exist "%BACKUP%\" (
    echo install: undo: put back the earlier tovrin.exe and tovrin-check.exe
    for %%f in (tovrin.exe tovrin-check.exe) do if exist "%BACKUP%\%%f" copy /y "%BACKUP%\%%f" "%TARGET%\%%f" >nul
)
if defined COPIED_INI if not defined MADE_FOLDER del /q "%TARGET%\tovrin.ini"
if defined LEFT goto undo_failed
if defined BACKUP rmdir /s /q "%BACKUP%"
echo install: everything this run changed is undone
exit /b 2
:undo_failed
echo install: UNDO FAILED: still there:%LEFT% remove it by hand (README.txt, "Removing it")
if defined BACKUP echo install: the earlier files are in %BACKUP%
exit /b 4

rem ==== helpers ====
:add
rem Appends a name to the list in the variable named first.
call set "%1=%%%1%% %~2"
exit /b 0

:ours
if /i "%~1"=="tovrin.exe" exit /b 0
if /i "%~1"=="tovrin-check.exe" exit /b 0
if /i "%~1"=="tovrin.ini" exit /b 0
set "FOREIGN=%FOREIGN% %~1"
exit /b 0

:remaining
echo install: NOT DONE YET: while the write filter protects a volume, all of this
echo install: lives in its overlay and is gone at the next restart. Commit it:
echo install:   ewfmgr -all            shows every protected volume and its state
echo install: For C: and every other volume that shows ENABLED, either
echo install:   ewfmgr c: -commit      then restart (a power cut before loses it)
echo install: or, without waiting (needed in RAM-REG mode, where -disable fails):
echo install:   ewfmgr c: -commitanddisable -live
echo install:   ewfmgr c: -enable      then restart: protection is off until then
echo install: A commit keeps everything written since the boot, not only this install.
echo install: Then log on as the machine's user and run %TARGET%\tovrin-check.exe again.
exit /b 0
