// Stands in for tovrin-check.exe in the install scenarios: ends at once with
// the exit code in TOVRIN_EXIT_CODE (signed decimal), as a crashed program
// ends with its exception's status, 0xC0000005 (-1073741819) for an access
// violation.
#include <windows.h>

#include <cstdlib>

int main()
{
    char text[32] = "";
    GetEnvironmentVariableA("TOVRIN_EXIT_CODE", text, sizeof text);
    ExitProcess((UINT)std::strtol(text, nullptr, 10));
}
