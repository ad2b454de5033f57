// Reads a message box back from the screen, as the Win32 API sees it: waits
// for a top-level window with the given caption and prints, in UTF-8, its
// caption, window class, styles, owner, and the text of every child control.
//   boxprobe CAPTION TIMEOUT_MS
// Exits 1 when no such window appears in time.
#include <windows.h>

#include <string>

namespace
{

std::string Utf8(const wchar_t *text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? (size_t)size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    }
    return result;
}

void Print(const std::string &line)
{
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), (DWORD)text.size(), &written, nullptr);
}

std::string Hex(ULONG_PTR value)
{
    char text[32];
    wsprintfA(text, "0x%08lX", (unsigned long)value);
    return text;
}

// Control text, with line feeds kept visible as \n.
std::string TextOf(HWND window)
{
    wchar_t text[2048];
    GetWindowTextW(window, text, 2048);
    std::string result;
    for (char c : Utf8(text)) {
        result += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return result;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM)
{
    wchar_t className[64];
    GetClassNameW(child, className, 64);
    std::string kind = Utf8(className);
    if (lstrcmpiW(className, L"Static") == 0) {
        kind = "static";
    } else if (lstrcmpiW(className, L"Button") == 0) {
        kind = "button";
    }
    std::string text = TextOf(child);
    // The icon is a static control too, with no text.
    if (!(kind == "static" && text.empty())) {
        Print(kind + "=" + text);
    }
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        Print("usage: boxprobe CAPTION TIMEOUT_MS");
        return 2;
    }
    const wchar_t *caption = argv[1];
    DWORD timeout = (DWORD)_wtoi(argv[2]);
    DWORD start = GetTickCount();
    HWND box = nullptr;
    while ((box = FindWindowW(nullptr, caption)) == nullptr) {
        if (GetTickCount() - start > timeout) {
            Print("none");
            return 1;
        }
        Sleep(50);
    }
    // Let the box finish laying out its controls.
    Sleep(200);
    wchar_t className[64];
    GetClassNameW(box, className, 64);
    Print("caption=" + TextOf(box));
    Print("class=" + Utf8(className));
    Print("style=" + Hex((ULONG_PTR)GetWindowLongPtrW(box, GWL_STYLE)));
    Print("exstyle=" + Hex((ULONG_PTR)GetWindowLongPtrW(box, GWL_EXSTYLE)));
    Print("owner=" + Hex((ULONG_PTR)GetWindow(box, GW_OWNER)));
    EnumChildWindows(box, PrintChild, 0);
    return 0;
}
