// How the watchdog will start at the next log-on, and what the next restart
// keeps: one table a finding, against the fake machine's registry, task
// files and write filter.
#include <functional>

#include "check/startfiles.h"
#include "tests/unit/check_fixture.h"

namespace
{

using Texts = std::vector<std::string>;

const std::string Tasks = "C:\\WINDOWS\\system32\\Tasks";
const std::string Jobs = "C:\\WINDOWS\\Tasks";
const std::string Winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::string User = "HKU\\S-1-5-21-7-7-7-1001";
const char GoodSettings[] = "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
                            "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
                            "<IdleSettings><StopOnIdleEnd>true</StopOnIdleEnd></IdleSettings>"
                            "<Enabled>true</Enabled>"
                            "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Priority>4</Priority>";
const char GroupPrincipal[] =
    "<GroupId>S-1-5-32-544</GroupId><RunLevel>HighestAvailable</RunLevel>";
const char LogonTrigger[] = "<LogonTrigger><Enabled>true</Enabled></LogonTrigger>";

// A task file as Task Scheduler's Export writes it, from its parts.
std::string TaskXml(const std::string &principal = GroupPrincipal,
                    const std::string &settings = GoodSettings,
                    const std::string &trigger = LogonTrigger,
                    const std::string &command = WatchdogPath)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
           "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
           "<!-- <Exec><Command>C:\\Other\\tovrin.exe</Command></Exec> -->"
           "<RegistrationInfo><Author>KIOSK\\admin</Author></RegistrationInfo>"
           "<Triggers>" +
           trigger + "</Triggers><Principals><Principal id=\"Author\">" + principal +
           "</Principal></Principals><Settings>" + settings +
           "</Settings><Actions Context=\"Author\"><Exec><Command>" + command +
           "</Command></Exec></Actions></Task>";
}

std::string Task(const std::string &principal = GroupPrincipal,
                 const std::string &settings = GoodSettings,
                 const std::string &trigger = LogonTrigger)
{
    return Utf16(TaskXml(principal, settings, trigger));
}

void Put16(std::string &out, size_t at, unsigned value)
{
    out[at] = (char)value;
    out[at + 1] = (char)(value >> 8);
}

void Put32(std::string &out, size_t at, unsigned long value)
{
    Put16(out, at, (unsigned)value);
    Put16(out, at + 2, (unsigned)(value >> 16));
}

// A Task Scheduler 1.0 .job: fixed part, the application's name, four empty
// strings, no user or reserved data, then the triggers (7: at log-on).
std::string Job(unsigned long maxRunTime, unsigned long flags, unsigned long trigger = 7,
                unsigned long triggerFlags = 0, const std::string &application = WatchdogPath)
{
    std::string job(0x46, '\0');
    Put16(job, 2, 1);
    Put16(job, 20, 0x46);
    Put32(job, 36, maxRunTime);
    Put32(job, 48, flags);
    std::string name(2, '\0');
    Put16(name, 0, (unsigned)application.size() + 1);
    job += name + Utf16(application).substr(2) + std::string(2 + 4 * 2 + 2 * 2, '\0');
    Put16(job, 22, (unsigned)job.size());
    std::string triggers(2 + 0x30, '\0');
    Put16(triggers, 0, 1);
    Put16(triggers, 2, 0x30);
    Put32(triggers, 2 + 28, triggerFlags);
    Put32(triggers, 2 + 32, trigger);
    return job + triggers;
}

// A shortcut whose LinkInfo holds the target's local path, as Explorer
// writes one for a file on a fixed disk.
std::string Lnk(const std::string &target)
{
    std::string link(0x4C, '\0');
    Put32(link, 0, 0x4C);
    Put32(link, 0x14, 0x2);
    std::string info(28, '\0');
    std::string volume = std::string("\x10\0\0\0", 4) + std::string(12, '\0');
    Put32(info, 0, (unsigned long)(28 + volume.size() + target.size() + 2));
    Put32(info, 4, 28);
    Put32(info, 8, 1);
    Put32(info, 12, 28);
    Put32(info, 16, (unsigned long)(28 + volume.size()));
    Put32(info, 24, (unsigned long)(28 + volume.size() + target.size()));
    return link + info + volume + target + std::string(2, '\0');
}

const std::string ShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const std::string CommonStartup =
    "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Startup";

void Seven()
{
    fake::SetVersion(6, 1, 7601, "Service Pack 1");
}

// The fixture's Run value, pointed at another program.
void NoRunValue()
{
    fake::SetRegistryValue(RunKey, "Tovrin", 1, "\"C:\\Program Files\\Vendor\\app.exe\" /q");
}

// Standard 7 started by the shipped task alone.
void SevenWithTask(const std::string &task)
{
    Seven();
    NoRunValue();
    fake::AddFile(Tasks + "\\Tovrin", task);
}

struct StartCase {
    const char *what;
    std::function<void()> setup;
    Texts lines; // what every "start" line says
};

const std::string RunOk = "ok start HKLM Run value Tovrin: C:\\Tovrin\\tovrin.exe | by Explorer";
const std::string UserRunOk =
    "ok start HKU\\S-1-5-21-7-7-7-1001 Run value Tovrin: C:\\Tovrin\\tovrin.exe | by Explorer";
const std::string TaskHead = "start task \\Tovrin: C:\\Tovrin\\tovrin.exe";
const std::string TaskOk =
    "ok " + TaskHead + " | at log-on | elevated | in the user's session | never stopped";
const std::string JobHead = "start job C:\\WINDOWS\\Tasks\\Tovrin.job: C:\\Tovrin\\tovrin.exe";
const std::string Priority7 = " | Priority 7 is below normal";
const std::string Uac = " | User Account Control | filtered token";
const std::string TwoStarts = "WARNING start.count 2 starts at log-on | two watchdogs";
const std::string NoneButRunning =
    "WARNING start nothing found starts tovrin.exe | though it runs now";
const std::string NothingRead = "WARNING start nothing found starts tovrin.exe | in what was read";
const std::string Admins = "S-1-5-21-7-7-7-500";
const std::string Kiosk = "S-1-5-21-7-7-7-1001";
// Who logs on: KIOSK\setup, an administrator only through a domain group,
// or KIOSK\kiosk, no administrator.
void Accounts()
{
    fake::AddAccount("S-1-5-21-7-7-7-1000", "KIOSK", "setup", 1, {"S-1-5-21-9-9-9-512"});
    fake::AddAccount(Kiosk, "KIOSK", "kiosk", 1, {"S-1-5-21-9-9-9-513"});
    fake::SetAdministrators({Admins, "S-1-5-21-9-9-9-512"});
}
// Who runs the check, in which session, while the console is in session 1.
void AtConsole(const std::string &sid, DWORD session = 1)
{
    Accounts();
    fake::SetConsoleSession(1, session, sid);
}
void AutoLogon(const std::string &user, const std::string &domain)
{
    Accounts();
    fake::SetRegistryValue(Winlogon, "AutoAdminLogon", 1, "1");
    fake::SetRegistryValue(Winlogon, "DefaultUserName", 1, user);
    fake::SetRegistryValue(Winlogon, "DefaultDomainName", 1, domain);
}
} // namespace

TEST_F(CheckTest, StartFindings)
{
    const StartCase cases[] = {
        {"Run value on XP", [] {}, {RunOk}},
        {"Run value under UAC",
         Seven,
         {"PROBLEM start HKLM Run value Tovrin: C:\\Tovrin\\tovrin.exe" + Uac}},
        {"Run value, UAC off",
         [] {
             Seven();
             fake::SetRegistryDword(
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", "EnableLUA", 0);
         },
         {RunOk}},
        {"Run value with a variable and arguments",
         [] {
             fake::SetEnvironment("SystemDrive", "C:");
             fake::SetRegistryValue(RunKey, "Tovrin", 2, "%SystemDrive%\\Tovrin\\tovrin.exe -x");
         },
         {RunOk}},
        {"registry strings: no terminator, another type, long, too large",
         [] {
             fake::SetRegistryValue(RunKey, "Tovrin", 1, WatchdogPath);
             fake::SetRegistryDword(RunKey, "Number", 0x2E657865);
             fake::SetRegistryValue(RunKey, "Long", 1, WatchdogPath + " " + std::string(3000, 'a'));
             fake::SetRegistryValue(RunKey, "Huge", 1, std::string(70000, 'x'));
         },
         {"note start HKLM\\" + RunKey + ": a value too large",
          "ok start HKLM Run value Long: C:\\Tovrin\\tovrin.exe | by Explorer", RunOk, TwoStarts}},
        {"custom shell",
         [] { fake::SetRegistryValue(Winlogon, "Shell", 1, "C:\\Kiosk\\kiosk.exe /full"); },
         {"PROBLEM start HKLM Run value Tovrin: C:\\Tovrin\\tovrin.exe | shell is "
          "C:\\Kiosk\\kiosk.exe /full | starts nothing"}},
        {"Explorer by its path",
         [] { fake::SetRegistryValue(Winlogon, "Shell", 1, "C:\\WINDOWS\\Explorer.EXE"); },
         {RunOk}},
        {"a user's Run value and own shell",
         [] {
             NoRunValue();
             fake::SetRegistryValue(User + "\\" + RunKey, "Watch", 1, WatchdogPath);
             fake::SetRegistryValue(User + "\\" + Winlogon, "Shell", 1, "kiosk.exe");
             // Not users: the system's own accounts and class stores.
             fake::SetRegistryValue("HKU\\S-1-5-18\\" + RunKey, "Watch", 1, WatchdogPath);
             fake::SetRegistryValue(User + "_Classes\\" + RunKey, "Watch", 1, WatchdogPath);
         },
         {"PROBLEM start HKU\\S-1-5-21-7-7-7-1001 Run value Watch: C:\\Tovrin\\tovrin.exe | "
          "shell is kiosk.exe | starts nothing"}},
        {"another file",
         [] { fake::SetRegistryValue(RunKey, "Tovrin", 1, "\"C:\\Old Tovrin\\TOVRIN.EXE\" /x"); },
         {"WARNING start HKLM Run value Tovrin: C:\\Old Tovrin\\TOVRIN.EXE | another file than "
          "C:\\Tovrin\\tovrin.exe"}},
        {"no start, running", NoRunValue, {NoneButRunning}},
        {"no start, not running",
         [] {
             fake::Reset();
             TotalRamDataSize = 0;
             fake::SetModulePath("C:\\Tovrin\\tovrin-check.exe");
             fake::AddFile(WatchdogPath, PeHeader(0x14C));
         },
         // Whoever runs the check, by SID where it has no name.
         {"note start.account S-1-5-21-7-7-7-500 logs on (at the console now) | Administrators "
          "not read | error 1332",
          "PROBLEM start nothing starts tovrin.exe at log-on"}},
        {"two starts",
         [] { fake::SetRegistryValue(User + "\\" + RunKey, "Tovrin", 1, WatchdogPath); },
         {RunOk, UserRunOk, TwoStarts}},
        {"both views on 64-bit Windows",
         [] {
             fake::SetWow64(true, true);
             fake::SetRegistryValue(
                 "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", "Old", 1,
                 "C:\\Old\\tovrin.exe");
         },
         {RunOk,
          "WARNING start HKLM Run (32-bit) value Old: C:\\Old\\tovrin.exe | another file than "
          "C:\\Tovrin\\tovrin.exe",
          TwoStarts}},
        {"the machine's Startup shortcut",
         [] {
             NoRunValue();
             fake::SetEnvironment("ALLUSERSPROFILE", "C:\\Documents and Settings\\All Users");
             fake::SetRegistryValue(ShellFolders, "Common Startup", 2,
                                    "%ALLUSERSPROFILE%\\Start Menu\\Programs\\Startup");
             fake::AddFile(CommonStartup + "\\Tovrin.lnk", Lnk(WatchdogPath));
             // Someone else's, and one that names the watchdog but is cut short.
             fake::AddFile(CommonStartup + "\\Other.lnk", Lnk("C:\\Other\\a.exe"));
             fake::AddFile(CommonStartup + "\\Broken.lnk", Lnk(WatchdogPath).substr(0, 140));
             fake::AddFile(CommonStartup + "\\desktop.ini", "[.ShellClassInfo]");
         },
         {"note start Startup shortcut " + CommonStartup +
              "\\Broken.lnk | link information runs past the file",
          "ok start Startup shortcut " + CommonStartup +
              "\\Tovrin.lnk: C:\\Tovrin\\tovrin.exe | by Explorer"}},
        {"a user's Startup shortcut under UAC",
         [] {
             Seven();
             NoRunValue();
             // %USERPROFILE% is the user's, not the one running the check.
             fake::SetEnvironment("USERPROFILE", "C:\\Users\\admin");
             fake::SetRegistryValue("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
                                    "S-1-5-21-7-7-7-1001",
                                    "ProfileImagePath", 2, "%SystemDrive%\\Users\\kiosk");
             fake::SetRegistryValue(User + "\\" + ShellFolders, "Startup", 2,
                                    "%USERPROFILE%\\Startup");
             fake::AddFile("C:\\Users\\kiosk\\Startup\\watch.lnk", Lnk(WatchdogPath));
             fake::AddFile("C:\\Users\\admin\\Startup\\watch.lnk", Lnk(WatchdogPath));
         },
         {"PROBLEM start Startup shortcut C:\\Users\\kiosk\\Startup\\watch.lnk: "
          "C:\\Tovrin\\tovrin.exe" +
          Uac}},
        {"turned off in Task Manager, and on again",
         [] {
             fake::SetVersion(6, 2, 9200, "");
             fake::SetRegistryDword(
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", "EnableLUA", 0);
             const std::string approved =
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
             fake::SetRegistryValue(approved, "Tovrin", 3, std::string("\x03\0\0\0\0\0\0\0", 8));
             fake::SetRegistryValue(User + "\\" + RunKey, "Tovrin", 1, WatchdogPath);
             fake::SetRegistryValue(User + "\\" + approved, "Tovrin", 3,
                                    std::string("\x02\0\0\0\0\0\0\0", 8));
         },
         {"PROBLEM start HKLM Run value Tovrin: C:\\Tovrin\\tovrin.exe | turned off in Task "
          "Manager",
          UserRunOk, TwoStarts}},
        {"the shipped task", [] { SevenWithTask(Task()); }, {TaskOk}},
        {"a task in a folder, interactive user",
         [] {
             Seven();
             NoRunValue();
             fake::AddFolder(Tasks + "\\Vendor");
             fake::AddFile(Tasks + "\\Vendor\\Watch",
                           Task("<UserId>KIOSK\\user</UserId><LogonType>InteractiveToken"
                                "</LogonType><RunLevel>HighestAvailable</RunLevel>"));
             // Who logs on is not known: the one account it starts for is said.
             fake::AddFile(Tasks + "\\Other", Utf16(TaskXml(GroupPrincipal, GoodSettings,
                                                            LogonTrigger, "C:\\Other\\a.exe")));
         },
         {"note start task \\Vendor\\Watch: C:\\Tovrin\\tovrin.exe | starts only for KIOSK\\user"}},
        {"an x86 check on 64-bit Windows reads the 64-bit Tasks folder",
         [] {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             fake::SetWow64(true, true);
             fake::SetRegistryDword(
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", "EnableLUA", 0);
             fake::AddFile("C:\\WINDOWS\\Sysnative\\Tasks\\Tovrin", Task());
             // What the 32-bit view of system32 would show instead.
             fake::AddFile(Tasks + "\\Tovrin", Task("<GroupId>S-1-5-32-544</GroupId>"));
         },
         {RunOk, TaskOk, TwoStarts}},
        {"a task file too large",
         [] { SevenWithTask(Task() + std::string(TASK_FILE_MAX, ' ')); },
         {"WARNING start task \\Tovrin: too large", NothingRead}},
        {"the guide's old schtasks /SC ONLOGON task",
         [] {
             SevenWithTask(Task("<UserId>KIOSK\\admin</UserId><LogonType>InteractiveToken"
                                "</LogonType><RunLevel>HighestAvailable</RunLevel>",
                                "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
                                "<Enabled>true</Enabled>"));
         },
         {"PROBLEM " + TaskHead +
          " | starts only for KIOSK\\admin | stops it 72 hours after each log-on | "
          "ExecutionTimeLimit absent, the default PT72H | neither started nor kept running on "
          "batteries" +
          Priority7}},
        {"PT72H and no HighestAvailable",
         [] {
             SevenWithTask(Task("<GroupId>S-1-5-32-544</GroupId>",
                                "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
                                "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
                                "<ExecutionTimeLimit>PT72H</ExecutionTimeLimit>"));
         },
         {"PROBLEM " + TaskHead +
          " | not elevated | stops it 72 hours after each log-on | ExecutionTimeLimit PT72H" +
          Priority7}},
        {"a limit in days and minutes",
         [] {
             SevenWithTask(Task(GroupPrincipal,
                                "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
                                "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
                                "<ExecutionTimeLimit>P3DT30M</ExecutionTimeLimit>"));
         },
         {"PROBLEM " + TaskHead +
          " | stops it 72 hours after each log-on | ExecutionTimeLimit P3DT30M" + Priority7}},
        {"not interactive, disabled, a limit that is no duration",
         [] {
             SevenWithTask(Task("<UserId>S-1-5-18</UserId><LogonType>ServiceAccount</LogonType>"
                                "<RunLevel>HighestAvailable</RunLevel>",
                                "<Enabled>false</Enabled><ExecutionTimeLimit>forever"
                                "</ExecutionTimeLimit><DisallowStartIfOnBatteries>true"
                                "</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false"
                                "</StopIfGoingOnBatteries>"));
         },
         {"PROBLEM " + TaskHead +
          " | disabled | not in the user's session (UserId S-1-5-18) | ExecutionTimeLimit forever "
          "is no duration | not started on batteries" +
          Priority7}},
        {"no log-on trigger",
         [] { SevenWithTask(Task(GroupPrincipal, GoodSettings, "<BootTrigger/>")); },
         {"WARNING " + TaskHead + ": no log-on trigger$", NoneButRunning}},
        {"a task cut short",
         [] { SevenWithTask(Task().substr(0, Task().size() - 14)); },
         {"WARNING start task \\Tovrin: cut short before </Task>", NoneButRunning}},
        {"a task saved as UTF-8",
         [] { SevenWithTask(TaskXml()); },
         {"WARNING start task \\Tovrin: not UTF-16 with a byte-order mark", NoneButRunning}},
        {"a job with the 72-hour default",
         [] {
             NoRunValue();
             fake::AddFile(Jobs + "\\Tovrin.job", Job(72ul * 3600 * 1000, 0x40 | 0x80));
         },
         {"PROBLEM " + JobHead +
          " | stops it 72 hours after each start | held back or stopped on batteries"}},
        {"a job without a limit, and one cut short",
         [] {
             NoRunValue();
             fake::AddFile(Jobs + "\\Tovrin.job", Job(0xFFFFFFFF, 0));
             fake::AddFile(Jobs + "\\Broken.job", Job(0xFFFFFFFF, 0).substr(0, 0x50));
             fake::AddFile(Jobs + "\\notes.txt", "not a job");
         },
         {"note start job C:\\WINDOWS\\Tasks\\Broken.job | application name runs past the file",
          "ok " + JobHead + " | at log-on | never stopped"}},
        {"a disabled job at boot",
         [] {
             NoRunValue();
             fake::AddFile(Jobs + "\\Tovrin.job", Job(0xFFFFFFFF, 0x4, 6));
         },
         {"PROBLEM " + JobHead + " | no log-on trigger | disabled", NoneButRunning}},
        {"a service account's task, with no LogonType",
         [] {
             SevenWithTask(Task("<UserId>nt authority\\system</UserId>"
                                "<RunLevel>HighestAvailable</RunLevel>"));
             fake::AddFile(Tasks + "\\Other", Task("<UserId>S-1-5-19</UserId>"));
         },
         {"PROBLEM start task \\Other: C:\\Tovrin\\tovrin.exe | not elevated | not in the "
          "user's session (UserId S-1-5-19)",
          "PROBLEM " + TaskHead + ": not in the user's session (UserId nt authority\\system)",
          TwoStarts}},
        {"LeastPrivilege in words",
         [] {
             SevenWithTask(Task("<GroupId>S-1-5-32-544</GroupId><RunLevel>LeastPrivilege"
                                "</RunLevel>"));
         },
         {"PROBLEM " + TaskHead + ": not elevated | measures 0; recreate"}},
        {"a log-on trigger turned off, and a priority below normal",
         [] {
             SevenWithTask(Task(GroupPrincipal,
                                std::string(GoodSettings) + "<Priority>8</Priority>",
                                "<LogonTrigger><Enabled>false</Enabled></LogonTrigger>"));
         },
         {"WARNING " + TaskHead + ": no log-on trigger | Priority 8 is below normal",
          NoneButRunning}},
        {"a trigger for another account than the one that logs on",
         [] {
             SevenWithTask(Task(GroupPrincipal, GoodSettings,
                                "<LogonTrigger><UserId>KIOSK\\setup</UserId></LogonTrigger>"));
             AutoLogon("kiosk", "KIOSK");
         },
         {"PROBLEM start.account KIOSK\\kiosk logs on (automatically) | not in Administrators",
          "WARNING " + TaskHead + " | starts only for KIOSK\\setup, not KIOSK\\kiosk"}},
        {"automatic log-on as an administrator through a domain group, someone else at the console",
         [] {
             SevenWithTask(Task());
             AutoLogon("setup", "KIOSK");
             fake::SetConsoleSession(1, 1, Kiosk);
         },
         {TaskOk}},
        {"automatic log-on as no administrator",
         [] { AutoLogon("kiosk", "KIOSK"); },
         {"PROBLEM start.account KIOSK\\kiosk logs on (automatically) | not in Administrators",
          RunOk}},
        {"automatic log-on with names at their longest",
         [] { AutoLogon(std::string(259, 'u'), std::string(259, 'd')); },
         {"note start.account " + std::string(259, 'd') + "\\" + std::string(259, 'u') +
              " logs on (automatically) | Administrators not read | error 2221",
          RunOk}},
        {"no administrator at the console",
         [] { AtConsole(Kiosk); },
         {"PROBLEM start.account KIOSK\\kiosk logs on (at the console now) | not in Administrators",
          RunOk}},
        {"an administrator through a group at the console, a task for another account",
         [] {
             SevenWithTask(Task(GroupPrincipal, GoodSettings,
                                "<LogonTrigger><UserId>KIOSK\\kiosk</UserId></LogonTrigger>"));
             AtConsole("S-1-5-21-7-7-7-1000");
         },
         {"note " + TaskHead + " | starts only for KIOSK\\kiosk"}},
        {"the check away from the console",
         [] { AtConsole(Kiosk, 3); },
         {"note start.account no automatic log-on | not at the console | not known", RunOk}},
        {"the account at the console unreadable",
         [] {
             AtConsole(Kiosk);
             fake::Fail("GetTokenInformation", 5);
         },
         {"note start.account no automatic log-on | account at the console cannot be read | "
          "error 5",
          RunOk}},
        {"membership that cannot be read",
         [] {
             AutoLogon("setup", "KIOSK");
             fake::Fail("NetUserGetLocalGroups", 5);
         },
         {"note start.account KIOSK\\setup logs on (automatically) | Administrators not read | "
          "error 5",
          RunOk}},
        {"a group list library without the call",
         [] {
             AutoLogon("setup", "KIOSK");
             fake::AddLibrary("C:\\WINDOWS\\system32\\netapi32.dll", {"NetApiBufferFree"});
         },
         {"note start.account KIOSK\\setup | Administrators not read | error 127", RunOk}},
        {"no memory to look with",
         [] { fake::Fail("LocalAlloc", 8); },
         {"WARNING start | not looked for | out of memory | error 8"}},
        {"a task folder that cannot be listed",
         [] {
             Seven();
             NoRunValue();
             fake::AddFolder(Tasks).openError = 5;
             fake::AddFile(Tasks + "\\Tovrin", Task());
             // Not known to run either: still only a warning.
             fake::Fail("CreateToolhelp32Snapshot", 5);
         },
         {"note start " + Tasks + " | cannot be read | error 5", NothingRead}},
        {"a Run key that cannot be opened, and a job that cannot be read",
         [] {
             fake::SetKeyWritten(User + "\\" + RunKey, 0, 5);
             fake::AddFile(Jobs + "\\Tovrin.job", Job(0xFFFFFFFF, 0)).openError = 5;
         },
         {RunOk, "note start " + User + "\\" + RunKey + " | cannot be read | error 5",
          "note start job C:\\WINDOWS\\Tasks\\Tovrin.job | cannot be read | error 5"}},
        {"another program's task too large",
         [] {
             SevenWithTask(Task());
             // Another program's: its text names no tovrin.exe.
             fake::AddFile(Tasks + "\\Big", Utf16("<Task><Actions><Exec><Command>C:\\Other\\a.exe"
                                                  "</Command></Exec></Actions></Task>" +
                                                  std::string(TASK_FILE_MAX, ' ')));
         },
         {TaskOk}},
        {"a job whose log-on trigger is itself disabled",
         [] {
             NoRunValue();
             fake::AddFile(Jobs + "\\Tovrin.job", Job(0xFFFFFFFF, 0, 7, 0x4));
         },
         {"WARNING " + JobHead + " | no log-on trigger", NoneButRunning}},
    };
    for (const StartCase &c : cases) {
        Install();
        c.setup();
        Run();
        EXPECT_TRUE(SayAll(c.lines, Said("start"))) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

namespace
{

struct PersistCase {
    const char *what;
    std::function<void()> setup;
    Texts lines; // what every "persist" line says
};

const char Kept[] = "ok persist nothing | lives only in an overlay";

std::string Lost(const std::string &what)
{
    return "PROBLEM persist " + what +
           ": written since the last boot | overlay is on | lost at the next restart";
}

std::string Unknown(const std::string &what)
{
    return "note persist " + what + ": on C: | record could not be read | not known";
}

const char Committed[] = "note persist C: | boot command is commit | kept at the next restart";

// The watchdog's file copied in `ago` before now: a new creation time, its
// source's last-write time.
void CopiedAgo(unsigned long long ago)
{
    fake::File &file = fake::AddFile(WatchdogPath, PeHeader(0x14C));
    OnlyAdministrators(file);
    file.created = fake::WallClock() - ago;
    file.written = fake::WallClock() - 400 * fake::Day;
}

sim::Volume &SystemVolume()
{
    return sim::TheWorld().volumes[0];
}

} // namespace

TEST_F(CheckTest, PersistFindings)
{
    const unsigned long long minutes = 60 * fake::Second;
    const PersistCase cases[] = {
        {"installed before the last boot", [] {}, {Kept}},
        {"copied since the boot", [&] { CopiedAgo(30 * minutes); }, {Lost(WatchdogPath)}},
        {"copied before the boot", [&] { CopiedAgo(90 * minutes); }, {Kept}},
        {"copied since the boot, commit pending",
         [&] {
             CopiedAgo(30 * minutes);
             SystemVolume().bootCommand = EWF_COMMIT;
         },
         {Committed}},
        {"copied since the boot, protection off",
         [&] {
             CopiedAgo(30 * minutes);
             SystemVolume().state = EWF_DISABLED;
             SystemVolume().bootCommand = EWF_ENABLE;
         },
         {Kept}},
        {"copied since the boot on another volume than the protected one",
         [&] {
             CopiedAgo(30 * minutes);
             SystemVolume().driveLetter = 'D';
         },
         {Kept}},
        {"folder, profile and Run value written since the boot",
         [&] {
             fake::AddFolder("C:\\Tovrin").written = fake::WallClock() - minutes;
             fake::AddFile(ProfilePath, DefaultProfile).created = fake::WallClock() - minutes;
             fake::SetKeyWritten(RunKey, fake::WallClock() - minutes);
         },
         {Lost("C:\\Tovrin"), Lost(ProfilePath),
          Lost("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run")}},
        {"the task file written since the boot",
         [&] {
             SevenWithTask(Task());
             fake::AddFile(Tasks + "\\Tovrin", Task()).written = fake::WallClock() - minutes;
         },
         {Lost(Tasks + "\\Tovrin")}},
        // GetTickCount has wrapped (60 days is past 49.7): only an uptime
        // that does not wrap places a file of 30 days ago after the boot.
        {"XP up for 60 days",
         [&] {
             fake::SetClock(fake::WallClock(), 60ull * 86400 * 1000);
             CopiedAgo(30 * fake::Day);
         },
         {Lost(WatchdogPath)}},
        {"Standard 7 up for 60 days",
         [&] {
             Seven();
             fake::SetClock(fake::WallClock(), 60ull * 86400 * 1000);
             CopiedAgo(30 * fake::Day);
         },
         {Lost(WatchdogPath)}},
        {"the volumes not read",
         [] { fake::Fail("EwfMgrGetProtectedVolumeList", 5); },
         {"note persist the write filter's volumes were not read | not known"}},
        {"the system volume's record not read",
         [] { fake::Fail("EwfMgrGetProtectedVolumeConfig", 5, "\\Device\\HarddiskVolume1"); },
         {Unknown("C:\\Tovrin"), Unknown(WatchdogPath), Unknown(ProfilePath),
          Unknown("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run")}},
        {"a file's times not read",
         [] { fake::Fail("GetFileAttributesExA", 5); },
         {"note persist C:\\Tovrin: its times cannot be read | error 5",
          "note persist C:\\Tovrin\\tovrin.exe: its times cannot be read | error 5",
          "note persist C:\\Tovrin\\tovrin.ini: its times cannot be read | error 5", Kept}},
    };
    for (const PersistCase &c : cases) {
        Install();
        c.setup();
        Run();
        EXPECT_TRUE(SayAll(c.lines, Said("persist"))) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}
