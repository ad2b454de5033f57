@echo off
rem Removes what install.cmd put on this machine: the start at log-on (the
rem scheduled task, or the Run value on the XP era) and C:\Tovrin. It asks
rem nothing, never commits the write filter and never restarts. Every file is
rem copied aside before anything is deleted, and put back if a step fails.
rem Exit codes: 0 removed, 1 refused (nothing changed), 2 failed and put back,
rem 3 removed, but the check reported HORM (then do not commit), 4 failed and
rem not fully put back.
rem Delayed expansion would eat each "!" of a path, and without extensions
rem %~dp0, for /f and exit /b fail: both can be inherited, so both are set.
setlocal EnableExtensions DisableDelayedExpansion
rem A variable named ERRORLEVEL would stand in for every exit code read below,
rem and one named DIRCMD would change what dir lists.
set "ERRORLEVEL="
set "DIRCMD="
set "SELF=%~f0"
set "TARGET=C:\Tovrin"
set "RUNKEY=HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
set "NATIVE=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "NATIVE=%SystemRoot%\Sysnative"
set "FILES=tovrin.exe tovrin-check.exe tovrin.ini"
set "UNREGISTERED="
set "HORM="
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

rem A folder of this run's own for lists and copies: mkdir refuses a name
rem that exists, so two runs never share one.
set "TRIES="
:claim
set "TRIES=%TRIES%x"
if "%TRIES%"=="xxxxxxxxxx" goto refuse_temp
set "WORK=%TEMP%\tovrin-uninstall-%RANDOM%%RANDOM%"
if exist "%WORK%" goto claim
rem mkdir leaves the exit code as it was when it succeeds: from 0, a 1 means
rem another run took the name meanwhile.
call :zero
mkdir "%WORK%"
if errorlevel 1 goto claim
if not exist "%WORK%\" goto claim

rem ver read from a file: for /f on a command runs AutoRun as well.
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
echo/uninstall: Windows %MAJOR%.%MINOR%

rem The rights, asked as install.cmd asks them: see there.
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

if "%FAMILY%"=="xp" set "TOOL=reg.exe"
if "%FAMILY%"=="6" set "TOOL=schtasks.exe"
if not exist "%NATIVE%\%TOOL%" goto refuse_tool

rem Only what install.cmd puts there is deleted: anything else is someone's.
if exist "%TARGET%" if not exist "%TARGET%\" goto refuse_file
if not exist "%TARGET%\" goto listed
rem From a file, so that AutoRun adds nothing; eol=/ as no name holds one,
rem where the default ";" would skip a name that starts with it.
dir /b /a "%TARGET%" >"%WORK%\list.txt" 2>nul
for /f "usebackq eol=/ delims=" %%e in ("%WORK%\list.txt") do (
    if /i not "%%e"=="tovrin.exe" if /i not "%%e"=="tovrin-check.exe" if /i not "%%e"=="tovrin.ini" >>"%WORK%\foreign.txt" echo/%%e
)
if exist "%WORK%\foreign.txt" goto refuse_foreign
:listed

set "REGISTERED="
if "%FAMILY%"=="6" if exist "%NATIVE%\Tasks\Tovrin" set "REGISTERED=task"
if "%FAMILY%"=="6" goto registered_known
"%NATIVE%\reg.exe" query "%RUNKEY%" /v Tovrin >nul 2>&1
set "RAN=%errorlevel%"
if "%RAN%"=="0" set "REGISTERED=run"
if not "%RAN%"=="0" if not "%RAN%"=="1" goto refuse_run_unknown
:registered_known
if not defined REGISTERED if not exist "%TARGET%\" goto nothing

rem The check, which changes nothing, says whether HORM is active: a commit
rem would then break every later resume.
if not exist "%TARGET%\tovrin-check.exe" goto horm_asked
"%TARGET%\tovrin-check.exe" >"%WORK%\check.txt" 2>nul
for /f "usebackq eol=/ tokens=1,2" %%a in ("%WORK%\check.txt") do (
    if "%%a"=="PROBLEM" if "%%b"=="horm" set "HORM=1"
)
:horm_asked
echo/uninstall: check: all checks passed, nothing changed so far

rem ==== from here on a failure puts back what this run removed ====
echo/uninstall: step: keep a copy of every file of %TARGET% and of the start in "%WORK%"
for %%f in (%FILES%) do if exist "%TARGET%\%%f" copy /y "%TARGET%\%%f" "%WORK%\%%f" >nul
for %%f in (%FILES%) do if exist "%TARGET%\%%f" if not exist "%WORK%\%%f" goto fail_backup
rem Task Scheduler's own file of the task, to register it again as it was.
if "%REGISTERED%"=="task" copy /y "%NATIVE%\Tasks\Tovrin" "%WORK%\task.xml" >nul
if "%REGISTERED%"=="task" if not exist "%WORK%\task.xml" goto fail_backup

rem The watchdog's file first: while it runs Windows keeps it, and then
rem nothing else has been touched.
if not exist "%TARGET%\tovrin.exe" goto delete_check
echo/uninstall: step: delete %TARGET%\tovrin.exe
del /f /q "%TARGET%\tovrin.exe" >nul 2>&1
if exist "%TARGET%\tovrin.exe" goto refuse_running

:delete_check
if not exist "%TARGET%\tovrin-check.exe" goto unregister
echo/uninstall: step: delete %TARGET%\tovrin-check.exe
del /f /q "%TARGET%\tovrin-check.exe" >nul 2>&1
if exist "%TARGET%\tovrin-check.exe" goto fail_check_runs

:unregister
if not defined REGISTERED goto profile
if "%REGISTERED%"=="run" goto remove_run
echo/uninstall: step: schtasks /Delete /TN Tovrin
"%NATIVE%\schtasks.exe" /Delete /TN Tovrin /F >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_unregister
if exist "%NATIVE%\Tasks\Tovrin" goto fail_unregister
set "UNREGISTERED=task"
goto profile

:remove_run
echo/uninstall: step: delete the Run value Tovrin under %RUNKEY%
"%NATIVE%\reg.exe" delete "%RUNKEY%" /v Tovrin /f >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" goto fail_unregister
set "UNREGISTERED=run"

:profile
if not exist "%TARGET%\tovrin.ini" goto folder
echo/uninstall: step: delete %TARGET%\tovrin.ini
del /f /q "%TARGET%\tovrin.ini" >nul 2>&1
if exist "%TARGET%\tovrin.ini" goto fail_profile

:folder
if not exist "%TARGET%\" goto removed
rem Not /s: the folder is empty now, and one that cannot go must not take
rem anything with it.
echo/uninstall: step: remove the folder %TARGET%
rmdir "%TARGET%" 2>nul
if exist "%TARGET%" goto fail_folder

:removed
rmdir /s /q "%WORK%"
echo/uninstall: removed
if defined HORM goto horm
call :remaining
set "CODE=0"
goto end

:horm
echo/uninstall: HORM (hibernate once, resume many) is active: do NOT commit. Every
echo/uninstall: start resumes the hibernation file saved before, which expects each
echo/uninstall: protected volume exactly as it was then: a commit changes the volume
echo/uninstall: under it and breaks every later resume. This removal is gone at the
echo/uninstall: next restart. To keep it, deactivate HORM as the image's servicing
echo/uninstall: procedure says, then run uninstall.cmd again.
set "CODE=3"
goto end

:nothing
rmdir /s /q "%WORK%"
echo/uninstall: neither %TARGET% nor a start at log-on is there: nothing to remove
set "CODE=0"
goto end

:refuse_temp
echo/uninstall: refused: cannot make a folder of its own in TEMP "%TEMP%"
goto refused_no_work
:refuse_edition
echo/uninstall: refused: Windows "%VERNUM%" is not an edition this kit supports
goto refused
:refuse_cannot_ask
echo/uninstall: refused: none of reg.exe, fsutil.exe and net.exe is in %NATIVE%, so whether this prompt has administrative rights cannot be told
goto refused
:refuse_rights
echo/uninstall: refused: this command prompt has no administrative rights (asked:%ASKED%)
if not "%ASKED%"==" net" goto refused
echo/uninstall: only "net session" could ask, and it fails for administrators too while
echo/uninstall: the Server service is stopped: start it (net start server), or add reg.exe
goto refused
:refuse_tool
echo/uninstall: refused: this image lacks %TOOL% in %NATIVE%: remove it by hand as README.txt describes
goto refused
:refuse_file
echo/uninstall: refused: %TARGET% is a file, not a folder of this kit
goto refused
:refuse_foreign
echo/uninstall: refused: %TARGET% holds other things than this kit's files:
for /f "usebackq eol=/ delims=" %%e in ("%WORK%\foreign.txt") do echo/uninstall:   %%e
goto refused
:refuse_run_unknown
echo/uninstall: refused: reg query for the Run value Tovrin ended with exit code %RAN%, neither found (0) nor absent (1)
goto refused
:refuse_running
echo/uninstall: refused: %TARGET%\tovrin.exe cannot be deleted: the watchdog runs
echo/uninstall: if its warning shows, press OK and wait for it to end; otherwise end it
echo/uninstall: with taskkill /F /IM tovrin.exe, then run uninstall.cmd again
goto refused
:refused
rmdir /s /q "%WORK%"
:refused_no_work
echo/uninstall: nothing was changed
set "CODE=1"
goto end

:fail_backup
echo/uninstall: FAILED: cannot keep a copy of every file and of the task in "%WORK%"
goto undo
:fail_check_runs
echo/uninstall: FAILED: %TARGET%\tovrin-check.exe cannot be deleted: a check runs from it,
echo/uninstall: its /watch perhaps: press Ctrl+C in its window, then run uninstall.cmd again
goto undo
:fail_unregister
echo/uninstall: FAILED: cannot remove the start at log-on (exit code %RAN%)
goto undo
:fail_profile
echo/uninstall: FAILED: %TARGET%\tovrin.ini cannot be deleted: a program has it open
goto undo
:fail_folder
echo/uninstall: FAILED: the folder %TARGET% cannot be removed: a program, or a command
echo/uninstall: prompt whose current folder it is, holds it: close it, then run uninstall.cmd again
goto undo

:undo
set "LEFT="
if "%UNREGISTERED%"=="task" call :register_again
if "%UNREGISTERED%"=="run" call :write_run_again
if not exist "%TARGET%\" mkdir "%TARGET%"
for %%f in (%FILES%) do if exist "%WORK%\%%f" if not exist "%TARGET%\%%f" call :put_back %%f
for %%f in (%FILES%) do if exist "%WORK%\%%f" if not exist "%TARGET%\%%f" set "LEFT=%LEFT% %TARGET%\%%f is gone;"
if defined LEFT goto undo_failed
rmdir /s /q "%WORK%"
echo/uninstall: everything this run changed is put back
set "CODE=2"
goto end
:undo_failed
echo/uninstall: UNDO FAILED:%LEFT% finish by hand (README.txt, "Removing it")
echo/uninstall: the files and the task as they were are in "%WORK%"
set "CODE=4"
goto end

:put_back
echo/uninstall: undo: put back %TARGET%\%1
copy /y "%WORK%\%1" "%TARGET%\%1" >nul
exit /b 0

:register_again
rem The task as Task Scheduler kept it, else the kit's own, which install.cmd
rem registered.
echo/uninstall: undo: register the task Tovrin again
"%NATIVE%\schtasks.exe" /Create /TN Tovrin /XML "%WORK%\task.xml" /F >nul 2>&1
set "RAN=%errorlevel%"
if "%RAN%"=="0" exit /b 0
if not exist "%~dp0tovrin-task.xml" goto task_gone
"%NATIVE%\schtasks.exe" /Create /TN Tovrin /XML "%~dp0tovrin-task.xml" /F >nul
set "RAN=%errorlevel%"
if "%RAN%"=="0" exit /b 0
:task_gone
set "LEFT=%LEFT% the task Tovrin is gone (exit code %RAN%);"
exit /b 0

:write_run_again
echo/uninstall: undo: write the Run value Tovrin again
"%NATIVE%\reg.exe" add "%RUNKEY%" /v Tovrin /t REG_SZ /d "%TARGET%\tovrin.exe" /f >nul
set "RAN=%errorlevel%"
if not "%RAN%"=="0" set "LEFT=%LEFT% the Run value Tovrin is gone;"
exit /b 0

:remaining
echo/uninstall: NOT DONE YET: while the write filter protects a volume, the removal
echo/uninstall: lives in its overlay and is undone at the next restart. Commit it:
echo/uninstall:   ewfmgr -all            shows every protected volume and its state
echo/uninstall: For C: and every other volume that shows ENABLED, either
echo/uninstall:   ewfmgr c: -commit      then restart
echo/uninstall: or, without waiting for a restart:
echo/uninstall:   ewfmgr c: -commitanddisable -live
echo/uninstall:   ewfmgr c: -enable      then restart
echo/uninstall: Both work in RAM-REG mode too; there only -disable without a commit fails.
echo/uninstall: A commit keeps everything written since the boot, not only this removal.
exit /b 0

:zero
exit /b 0

:end
rem Explorer's window closes with the script: keep it open until a key.
if defined PAUSE_AT_END echo/uninstall: exit code %CODE%: press a key to close this window
if defined PAUSE_AT_END pause >nul
exit /b %CODE%
