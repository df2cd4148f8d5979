/*
 * A C host that loads ONDRIX.dll with OndrixLoad from each folder given ("-":
 * NULL, its own; "+": its own, named to OndrixLoadW), then lists the adapters through the last
 * module loaded and names the files the pcap library came from.
 */
#include <stdio.h>
#include <string.h>

#include "ondrix.h"

typedef int32_t(ONDRIX_CALL *InitFunction)(void);
typedef int32_t(ONDRIX_CALL *InfoFunction)(int32_t, AdapterInfoRecord *);

static void print_module(const char *name)
{
    char path[MAX_PATH];
    HMODULE module = GetModuleHandleA(name);
    if (!module || !GetModuleFileNameA(module, path, MAX_PATH))
        strcpy(path, "(not loaded)");
    printf("%s: %s\n", name, path);
}

int main(int argc, char **argv)
{
    char message[512], cut[16];
    wchar_t wide[MAX_PATH], wideMessage[512];
    HMODULE ondrix = NULL, module;
    InitFunction init;
    InfoFunction info;
    AdapterInfoRecord record;
    int32_t n, i;
    int k;

    for (k = 1; k < argc; ++k) {
        if (strcmp(argv[k], "+") == 0) {
            GetModuleFileNameW(NULL, wide, MAX_PATH);
            *wcsrchr(wide, L'\\') = 0;
            module = OndrixLoadW(wide, wideMessage, 512);
            WideCharToMultiByte(CP_ACP, 0, wideMessage, -1, message, sizeof message, NULL, NULL);
        } else {
            const char *folder = strcmp(argv[k], "-") ? argv[k] : NULL;
            /* A short buffer gets the start of the sentence and its terminator, nothing past them. */
            memset(cut, '#', sizeof cut);
            OndrixLoad(folder, cut, 8);
            if (memchr(cut, 0, 8) == NULL || cut[8] != '#') {
                printf("%s: the message overran its buffer\n", argv[k]);
                return 3;
            }
            module = OndrixLoad(folder, message, sizeof message);
        }
        ondrix = module ? module : ondrix;
        printf("%s: %s\n", argv[k], module ? "loaded" : message);
        if (module && message[0]) {
            printf("a message came with the module: %s\n", message);
            return 3;
        }
    }
    if (!ondrix)
        return 1;
    print_module("wpcap.dll");
    print_module("Packet.dll");

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
