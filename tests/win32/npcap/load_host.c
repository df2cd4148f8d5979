/*
 * A C host that loads ONDRIX.dll with OndrixLoadW from each folder given ("-":
 * OndrixLoad(NULL), its own; "+": its own, named), then lists the adapters
 * through the last module loaded and names the files the pcap library came
 * from. "@FILE" loads FILE first, as another program in the process might
 * ("!FILE": only to look at it, DONT_RESOLVE_DLL_REFERENCES);
 * "old" hides AddDllDirectory from the loader from there on, "new" shows it.
 * Every failing load's message is also taken into short buffers, wide and
 * ANSI. Prints in UTF-8; exits 3 when a message is cut wrong.
 */
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static int hideAddDllDirectory;
#define ONDRIX_HIDE_ADD_DLL_DIRECTORY hideAddDllDirectory
#include "ondrix.h"

typedef int32_t(ONDRIX_CALL *InitFunction)(void);
typedef int32_t(ONDRIX_CALL *InfoFunction)(int32_t, AdapterInfoRecord *);

static void print(const wchar_t *label, const wchar_t *text)
{
    char a[1024], b[2048];
    WideCharToMultiByte(CP_UTF8, 0, label, -1, a, sizeof a, NULL, NULL);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, b, sizeof b, NULL, NULL);
    printf("%s: %s\n", a, b);
}

static void print_module(const wchar_t *name)
{
    wchar_t path[MAX_PATH];
    HMODULE module = GetModuleHandleW(name);
    if (!module || !GetModuleFileNameW(module, path, MAX_PATH))
        wcscpy(path, L"(not loaded)");
    print(name, path);
}

/* A buffer too short gets the message's start, ending on a whole character,
   with no more than one character left off, and nothing past the buffer.
   Tried at 1, 2 and 40 characters, and at every length where the message
   has more than ASCII. */
static int cut_wrong(const wchar_t *folder, const wchar_t *whole)
{
    char ansiFolder[2048], ansiWhole[2048], ansi[2048];
    wchar_t wide[1024];
    size_t size, n, i, length = wcslen(whole), ansiLength;
    int every = 0;
    CPINFO code;

    for (i = 0; i < length; ++i)
        every |= whole[i] > 0x7E;
    WideCharToMultiByte(CP_ACP, 0, folder, -1, ansiFolder, sizeof ansiFolder, NULL, NULL);
    OndrixLoad(ansiFolder, ansiWhole, sizeof ansiWhole);
    ansiLength = strlen(ansiWhole);
    GetCPInfo(CP_ACP, &code);
    for (size = 1; size < 1000 && size <= (length > ansiLength ? length : ansiLength) + 1; ++size) {
        if (!every && size != 1 && size != 2 && size != 40)
            continue;
        wmemset(wide, L'#', sizeof wide / sizeof wide[0]);
        OndrixLoadW(folder, wide, size);
        n = wcsnlen(wide, size);
        if (n == size || wide[size] != L'#' || wcsncmp(wide, whole, n) ||
            (n && IS_HIGH_SURROGATE(wide[n - 1])) || n + 1 < (length < size - 1 ? length : size - 1))
            return 1;
        memset(ansi, '#', sizeof ansi);
        OndrixLoad(ansiFolder, ansi, size);
        n = strnlen(ansi, size);
        for (i = 0; i < n; i += IsDBCSLeadByte((BYTE)ansi[i]) ? 2 : 1)
            ;
        if (n == size || ansi[size] != '#' || strncmp(ansi, ansiWhole, n) || i != n ||
            n + code.MaxCharSize - 1 < (ansiLength < size - 1 ? ansiLength : size - 1))
            return 1;
    }
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    char ansi[512];
    wchar_t message[512], own[MAX_PATH];
    HMODULE ondrix = NULL, module;
    InitFunction init;
    InfoFunction info;
    AdapterInfoRecord record;
    int32_t n, i;
    int k;

    printf("code page %u\n", GetACP());
    for (k = 1; k < argc; ++k) {
        const wchar_t *folder = argv[k];
        if (wcscmp(folder, L"old") == 0 || wcscmp(folder, L"new") == 0) {
            hideAddDllDirectory = folder[0] == L'o';
            continue;
        }
        if (folder[0] == L'@' || folder[0] == L'!') {
            if (!LoadLibraryExW(folder + 1, NULL, folder[0] == L'!' ? DONT_RESOLVE_DLL_REFERENCES : 0))
                print(folder + 1, L"did not load");
            continue;
        }
        if (wcscmp(folder, L"-") == 0) {
            module = OndrixLoad(NULL, ansi, sizeof ansi);
            MultiByteToWideChar(CP_ACP, 0, ansi, -1, message, 512);
        } else {
            if (wcscmp(folder, L"+") == 0) {
                GetModuleFileNameW(NULL, own, MAX_PATH);
                *wcsrchr(own, L'\\') = 0;
                folder = own;
            }
            module = OndrixLoadW(folder, message, 512);
            if (!module && cut_wrong(folder, message)) {
                print(argv[k], L"a message was cut wrong");
                return 3;
            }
        }
        ondrix = module ? module : ondrix;
        print(argv[k], module ? L"loaded" : message);
        if (module && message[0]) {
            print(L"a message came with the module", message);
            return 3;
        }
    }
    if (!ondrix)
        return 1;
    print_module(L"wpcap.dll");
    print_module(L"Packet.dll");

    init = (InitFunction)(void (*)(void))GetProcAddress(ondrix, "OndrixInit");
    info = (InfoFunction)(void (*)(void))GetProcAddress(ondrix, "oxGetAdapterInfo");
    if (!init || !info)
        return 1;
    n = init();
    printf("%d adapter(s)\n", (int)n);
    for (i = 0; i < n; ++i)
        if (info(i, &record) == 0)
            printf("%d: %s (%s)\n", (int)i, record.name, record.description);
    return n > 0 ? 0 : 1;
}
