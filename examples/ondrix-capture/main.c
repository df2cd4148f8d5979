/*
 * ondrix-capture: a small capture host built on the ONDRIX exports only,
 * driving them the way a VB program does (variants, byte-array variables,
 * header records, ANSI error strings).
 *
 *   ondrix-capture list
 *   ondrix-capture capture (-i INDEX | --adapter TEXT | -r FILE) [-f FILTER] [-c COUNT]
 *                  [-t MS] [-T TIMEOUTS] [-m copy|alias|disk|mem|memsafe] [-w OUT] [-s SNAPLEN] [-P]
 *                  [--rotate-size BYTES] [--rotate-seconds S] [--files N]
 *   ondrix-capture send (-i INDEX | --adapter TEXT) [-n TIMES] HEXFRAME
 *
 * --adapter takes what the user knows of an adapter: the name the system
 * shows ("Ethernet", "Wi-Fi"), its description or pcap name, an IP address
 * or the MAC address.
 *
 * On Windows the exports are delay-loaded (mingw: an import library made with
 * dlltool -y; MSVC: /DELAYLOAD:ONDRIX.dll and delayimp.lib). The program then
 * starts without ONDRIX.dll or the pcap library, and OndrixLoad finds both,
 * Npcap in its own folder too, before the first call, or says what is missing.
 * The delay-load helper then takes the module OndrixLoad loaded.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ondrix-capture.h"
#ifdef _WIN32
#include <delayimp.h>
#endif

int usage(void)
{
    fprintf(stderr,
            "usage: ondrix-capture list\n"
            "       ondrix-capture capture (-i INDEX | --adapter TEXT | -r FILE) [-f FILTER]\n"
            "                      [-c COUNT] [-t MS] [-T TIMEOUTS] [-m copy|alias|disk|mem|memsafe]\n"
            "                      [-w OUT] [-s SNAPLEN] [-P] [--rotate-size BYTES]\n"
            "                      [--rotate-seconds S] [--files N]\n"
            "       ondrix-capture send (-i INDEX | --adapter TEXT) [-n TIMES] HEXFRAME\n"
            "--adapter TEXT: the adapter's name (\"Ethernet\"), description, pcap name,\n"
            "                IP address or MAC address\n");
    return 2;
}

#ifdef _WIN32
static HMODULE ondrix;

/* Asked before the delay-load helper would load ONDRIX.dll by bare name, a
   search that reaches the current folder and PATH: it gets the module
   OndrixLoad loaded, which load_library makes sure of before any call. */
static FARPROC WINAPI delay_hook(unsigned note, PDelayLoadInfo info)
{
    if (note == dliNotePreLoadLibrary && lstrcmpiA(info->szDll, "ONDRIX.dll") == 0)
        return (FARPROC)(void *)ondrix;
    return NULL;
}
/* Visual Studio's delayimp.h declares the hook const, mingw's does not. */
#ifdef _MSC_VER
const
#endif
    PfnDliHook __pfnDliNotifyHook2 = delay_hook;
#endif

/* Loads ONDRIX.dll from the program's folder; on Linux the library is linked. */
static int load_library(void)
{
#ifdef _WIN32
    char why[512];
    ondrix = OndrixLoad(NULL, why, sizeof why);
    if (!ondrix) {
        fprintf(stderr, "%s\n", why);
        return 1;
    }
#endif
    return 0;
}

int main(int argc, char **argv)
{
    struct options o;
    int i;
    memset(&o, 0, sizeof o);
    o.index = -1;
    o.mode = "copy";
    o.timeout = 1000;
    o.times = 1;
    if (argc < 2)
        return usage();
    for (i = 2; i < argc; ++i) {
        const char *a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : NULL;
        if (a[0] == '-' && a[1] && !a[2] && strchr("irfcmwtTsn", a[1]) && !v)
            return usage();
        if (strcmp(a, "--adapter") == 0 && !v)
            return usage();
        if (strcmp(a, "-i") == 0)
            o.index = atoi(argv[++i]);
        else if (strcmp(a, "--adapter") == 0)
            o.adapter = argv[++i];
        else if (strcmp(a, "-r") == 0)
            o.file = argv[++i];
        else if (strcmp(a, "-f") == 0)
            o.filter = argv[++i];
        else if (strcmp(a, "-c") == 0)
            o.count = atol(argv[++i]);
        else if (strcmp(a, "-m") == 0)
            o.mode = argv[++i];
        else if (strcmp(a, "-w") == 0)
            o.out = argv[++i];
        else if (strcmp(a, "-t") == 0)
            o.timeout = atoi(argv[++i]);
        else if (strcmp(a, "-T") == 0)
            o.max_timeouts = atol(argv[++i]);
        else if (strcmp(a, "-s") == 0)
            o.snaplen = atoi(argv[++i]);
        else if (strcmp(a, "-n") == 0)
            o.times = atol(argv[++i]);
        else if (strcmp(a, "-P") == 0)
            o.no_promisc = 1;
        else if (strcmp(a, "--rotate-size") == 0 && v)
            o.rotate_size = atoi(argv[++i]);
        else if (strcmp(a, "--rotate-seconds") == 0 && v)
            o.rotate_seconds = atoi(argv[++i]);
        else if (strcmp(a, "--files") == 0 && v)
            o.files = atoi(argv[++i]);
        else if (a[0] != '-' && !o.hex)
            o.hex = a;
        else
            return usage();
    }
    if (strcmp(argv[1], "list") == 0 && argc == 2)
        return load_library() ? 1 : cmd_list();
    if (strcmp(argv[1], "capture") == 0 && (o.index >= 0) + (o.adapter != NULL) + (o.file != NULL) == 1 &&
        !o.hex)
        return load_library() ? 1 : cmd_capture(&o);
    if (strcmp(argv[1], "send") == 0 && (o.index >= 0) + (o.adapter != NULL) == 1 && o.hex && o.times > 0)
        return load_library() ? 1 : cmd_send(&o);
    return usage();
}
