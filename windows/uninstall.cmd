@echo off
rem Removes what install.cmd put on this machine: the start at log-on (the
rem scheduled task, or the Run value on the XP era) and C:\Tovrin. It asks
rem nothing, never commits the write filter and never restarts.
rem Exit codes: 0 removed, 1 refused (nothing changed), 2 failed and undone,
rem 4 failed and not fully undone.
setlocal
set "TARGET=C:\Tovrin"
set "RUNKEY=HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
set "NATIVE=%SystemRoot%\System32"
if defined PROCESSOR_ARCHITEW6432 set "NATIVE=%SystemRoot%\Sysnative"
set "REMOVED="
set "TASKCOPY="

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
echo uninstall: Windows %MAJOR%.%MINOR%

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

if "%FAMILY%"=="xp" set "TOOL=reg.exe"
if "%FAMILY%"=="6" set "TOOL=schtasks.exe"
if not exist "%NATIVE%\%TOOL%" goto refuse_tool

rem Only what install.cmd puts there is deleted: anything else is someone's.
if exist "%TARGET%" if not exist "%TARGET%\" goto refuse_file
set "FOREIGN="
if exist "%TARGET%\" for /f "delims=" %%e in ('dir /b /a "%TARGET%"') do call :ours "%%e"
if defined FOREIGN goto refuse_foreign

set "REGISTERED="
if "%FAMILY%"=="6" if exist "%NATIVE%\Tasks\Tovrin" set "REGISTERED=task"
if "%FAMILY%"=="xp" (
    "%NATIVE%\reg.exe" query "%RUNKEY%" /v Tovrin >nul 2>&1
    if not errorlevel 1 set "REGISTERED=run"
)
if not defined REGISTERED if not exist "%TARGET%\" goto nothing
echo uninstall: check: all checks passed, nothing changed so far

rem ==== from here on a failure puts back what this run removed ====
rem The watchdog's file first: while it runs Windows keeps it, and then nothing
rem else has been touched. A copy of it comes back if a later step fails.
set "BACKUP="
if not exist "%TARGET%\tovrin.exe" goto unregister
set "BACKUP=%TEMP%\tovrin-uninstall-%RANDOM%%RANDOM%"
mkdir "%BACKUP%"
copy /y "%TARGET%\tovrin.exe" "%BACKUP%\" >nul
if not exist "%BACKUP%\tovrin.exe" goto fail_backup
echo uninstall: step: delete %TARGET%\tovrin.exe
del /f /q "%TARGET%\tovrin.exe" >nul 2>&1
if exist "%TARGET%\tovrin.exe" goto refuse_running

:unregister
if not defined REGISTERED goto files
if "%REGISTERED%"=="run" goto remove_run
rem Task Scheduler's own file of the task, to register it again as it was.
set "TASKCOPY=%TEMP%\tovrin-task-%RANDOM%%RANDOM%.xml"
copy /y "%NATIVE%\Tasks\Tovrin" "%TASKCOPY%" >nul
if not exist "%TASKCOPY%" goto fail_keep_task
echo uninstall: step: schtasks /Delete /TN Tovrin
"%NATIVE%\schtasks.exe" /Delete /TN Tovrin /F >nul
if errorlevel 1 goto fail_unregister
if exist "%NATIVE%\Tasks\Tovrin" goto fail_unregister
set "REMOVED=task"
goto files

:remove_run
echo uninstall: step: delete the Run value Tovrin under %RUNKEY%
"%NATIVE%\reg.exe" delete "%RUNKEY%" /v Tovrin /f >nul
if errorlevel 1 goto fail_unregister
set "REMOVED=run"

:files
if not exist "%TARGET%\" goto removed
echo uninstall: step: remove %TARGET%
rmdir /s /q "%TARGET%"
if exist "%TARGET%" goto fail_folder

:removed
if defined TASKCOPY del /q "%TASKCOPY%"
if defined BACKUP rmdir /s /q "%BACKUP%"
echo uninstall: removed
call :remaining
exit /b 0

:nothing
echo uninstall: neither %TARGET% nor a start at log-on is there: nothing to remove
exit /b 0

:refuse_edition
echo uninstall: refused: Windows "%VERNUM%" is not an edition this kit supports
goto refused
:refuse_cannot_ask
echo uninstall: refused: neither fsutil.exe nor net.exe is in %NATIVE%, so whether this prompt has administrative rights cannot be told
goto refused
:refuse_rights
echo uninstall: refused: this command prompt has no administrative rights
goto refused
:refuse_tool
echo uninstall: refused: this image lacks %TOOL% in %NATIVE%: remove it by hand as README.txt describes
goto refused
:refuse_file
echo uninstall: refused: %TARGET% is a file, not a folder of this kit
goto refused
:refuse_foreign
echo uninstall: refused: %TARGET% holds other things than this kit's files:%FOREIGN%
goto refused
:refused
echo uninstall: nothing was changed
exit /b 1

:refuse_running
if defined BACKUP rmdir /s /q "%BACKUP%"
echo uninstall: refused: %TARGET%\tovrin.exe cannot be deleted: the watchdog runs
echo uninstall: if its warning shows, press OK and wait for it to end; otherwise end it
echo uninstall: with taskkill /F /IM tovrin.exe, then run uninstall.cmd again
goto refused
:fail_backup
echo uninstall: FAILED: cannot keep a copy of tovrin.exe to put back if needed
goto undo
:fail_keep_task
echo uninstall: FAILED: cannot keep a copy of the task to put back if needed
goto undo
:fail_unregister
echo uninstall: FAILED: cannot remove the start at log-on
goto undo
:fail_folder
echo uninstall: FAILED: %TARGET% could not be removed entirely
goto undo

:undo
set "LEFT="
if "%REMOVED%"=="task" call :register_again
if "%REMOVED%"=="run" (
    echo uninstall: undo: write the Run value Tovrin again
    "%NATIVE%\reg.exe" add "%RUNKEY%" /v Tovrin /t REG_SZ /d "%TARGET%\tovrin.exe" /f >nul
    if errorlevel 1 set "LEFT=%LEFT% the Run value Tovrin is gone;"
)
if defined BACKUP if exist "%BACKUP%\tovrin.exe" if exist "%TARGET%\" if not exist "%TARGET%\tovrin.exe" (
    echo uninstall: undo: put back %TARGET%\tovrin.exe
    copy /y "%BACKUP%\tovrin.exe" "%TARGET%\tovrin.exe" >nul
)
if exist "%TARGET%\" if not exist "%TARGET%\tovrin.exe" set "LEFT=%LEFT% %TARGET% is partly deleted;"
if defined LEFT goto undo_failed
if defined TASKCOPY del /q "%TASKCOPY%"
if defined BACKUP rmdir /s /q "%BACKUP%"
echo uninstall: everything this run changed is put back
exit /b 2
:undo_failed
echo uninstall: UNDO FAILED:%LEFT% finish by hand (README.txt, "Removing it")
if defined TASKCOPY if exist "%TASKCOPY%" echo uninstall: the task as it was: %TASKCOPY%
if defined BACKUP if exist "%BACKUP%\tovrin.exe" echo uninstall: the watchdog as it was: %BACKUP%\tovrin.exe
exit /b 4

:register_again
rem The task as Task Scheduler kept it, else the kit's own, which install.cmd
rem registered.
echo uninstall: undo: register the task Tovrin again
"%NATIVE%\schtasks.exe" /Create /TN Tovrin /XML "%TASKCOPY%" /F >nul 2>&1
if not errorlevel 1 exit /b 0
if exist "%~dp0tovrin-task.xml" "%NATIVE%\schtasks.exe" /Create /TN Tovrin /XML "%~dp0tovrin-task.xml" /F >nul
if errorlevel 1 set "LEFT=%LEFT% the task Tovrin is gone;"
exit /b 0

:ours
if /i "%~1"=="tovrin.exe" exit /b 0
if /i "%~1"=="tovrin-check.exe" exit /b 0
if /i "%~1"=="tovrin.ini" exit /b 0
set "FOREIGN=%FOREIGN% %~1"
exit /b 0

:remaining
echo uninstall: NOT DONE YET: while the write filter protects a volume, the removal
echo uninstall: lives in its overlay and is undone at the next restart. Commit it:
echo uninstall:   ewfmgr -all            shows every protected volume and its state
echo uninstall: For C: and every other volume that shows ENABLED, either
echo uninstall:   ewfmgr c: -commit      then restart
echo uninstall: or, without waiting (needed in RAM-REG mode, where -disable fails):
echo uninstall:   ewfmgr c: -commitanddisable -live
echo uninstall:   ewfmgr c: -enable      then restart
echo uninstall: A commit keeps everything written since the boot, not only this removal.
exit /b 0
