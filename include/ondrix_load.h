/*
 * ONDRIX: loading ONDRIX.dll on Windows (OndrixLoad, OndrixLoadW), inline,
 * so that a host needs nothing but this header to load the DLL safely.
 * Included by ondrix.h on Windows; include that instead.
 */
#ifndef ONDRIX_LOAD_H
#define ONDRIX_LOAD_H

#ifndef ONDRIX_H
#error "include ondrix.h, which includes ondrix_load.h on Windows"
#endif

/*
 * Loading ONDRIX.dll on Windows, before the first export is called.
 *
 * Npcap in its native layout keeps wpcap.dll in System32\Npcap, off the DLL
 * search path, and a search by bare name would reach the current folder and
 * PATH, where anyone can leave a wpcap.dll of their own. So the pcap library
 * is taken only from where Npcap or WinPcap put it, and every DLL is loaded
 * by full path. The process-wide search path is never changed.
 *
 * 1. An ONDRIX.dll already loaded from the same path is used again; one from
 *    another path is refused (VB's Declares stay bound to the first).
 * 2. A wpcap.dll or Packet.dll already loaded is used only from Npcap's
 *    folder or the system folder; one from anywhere else is refused.
 * 3. Else <system folder>\Npcap\wpcap.dll, failing that <system folder>\wpcap.dll.
 *    The system folder is the one Windows gives this program: SysWOW64 for a
 *    32-bit program on 64-bit Windows.
 * 4. ONDRIX.dll by full path from folder; its import binds to that wpcap.dll.
 *
 * Each DLL takes what it needs (Packet.dll) from its own folder and System32
 * only. Windows 7 without KB2533623 can't be asked for that: there the older
 * search would go on to the current folder and PATH, so Packet.dll is loaded
 * first by full path from beside wpcap.dll, and refused where it is missing.
 *
 * OndrixLoadW takes the absolute folder that holds ONDRIX.dll (NULL: this
 * program's own folder) and returns the module, or NULL with a sentence for
 * the user in message (always terminated, cut to fit by whole characters).
 * OndrixLoad is the same for an ANSI folder and message. The pcap library
 * stays loaded.
 */
#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
/* Tests define this to an expression that is true to take the older search
   on a Windows that has the newer one. */
#ifndef ONDRIX_HIDE_ADD_DLL_DIRECTORY
#define ONDRIX_HIDE_ADD_DLL_DIRECTORY 0
#endif
/* Room for a folder and a file name in it, in characters. */
#define ONDRIX_PATH_ 1024

#include "ondrix_load_messages.h"

static inline int ondrix_is_slash_(wchar_t c) { return c == L'\\' || c == L'/'; }

static inline int ondrix_is_file_(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static inline int ondrix_starts_with_(const wchar_t *text, const wchar_t *prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (*text != *prefix && !(*text >= L'A' && *text <= L'Z' && *text + 32 == *prefix))
            return 0;
    return 1;
}

/* C:\... or \\server\share...: the folders that do not depend on the current one. */
static inline int ondrix_is_full_path_(const wchar_t *folder)
{
    size_t i = 2;

    if ((folder[0] | 32) >= L'a' && (folder[0] | 32) <= L'z' && folder[1] == L':')
        return ondrix_is_slash_(folder[2]);
    if (!ondrix_is_slash_(folder[0]) || !ondrix_is_slash_(folder[1]))
        return 0;
    while (folder[i] && !ondrix_is_slash_(folder[i]))
        ++i;
    return i > 2 && folder[i] && folder[i + 1] && !ondrix_is_slash_(folder[i + 1]);
}

/* Refuses a web address or a relative folder (it would be taken from the
   current one, which the user does not control). Else name is the folder,
   NULL meaning this program's, without trailing slashes but for C:\'s own. */
static inline int ondrix_folder_(const wchar_t *folder, wchar_t *name)
{
    DWORD n;

    if (!folder) {
        n = GetModuleFileNameW(NULL, name, ONDRIX_PATH_);
        if (n == 0 || n >= ONDRIX_PATH_) {
            name[n ? ONDRIX_PATH_ - 1 : 0] = 0;
            return ONDRIX_SAY_TOO_LONG_;
        }
        while (n > 0 && !ondrix_is_slash_(name[n - 1]))
            --n;
        name[n] = 0;
        folder = name;
    } else if (ondrix_starts_with_(folder, L"http://") || ondrix_starts_with_(folder, L"https://")) {
        return ONDRIX_SAY_WEB_;
    } else if (!ondrix_is_full_path_(folder)) {
        return ONDRIX_SAY_RELATIVE_;
    }
    for (n = 0; folder[n] && n + 1 < ONDRIX_PATH_; ++n)
        name[n] = folder[n];
    name[n] = 0;
    if (folder[n])
        return ONDRIX_SAY_TOO_LONG_;
    while (n > 1 && ondrix_is_slash_(name[n - 1]))
        --n;
    if (n == 2 && name[1] == L':')
        ++n;
    name[n] = 0;
    return -1;
}

/* The full path of ONDRIX.dll in that folder, as Windows spells it (with the
   backslashes LoadLibraryExW needs). */
static inline int ondrix_dll_path_(const wchar_t *name, wchar_t *dll)
{
    wchar_t path[ONDRIX_PATH_ + 16];
    int n = lstrlenW(name);
    DWORD got;

    lstrcpyW(path, name);
    lstrcpyW(path + n, n > 0 && ondrix_is_slash_(name[n - 1]) ? L"ONDRIX.dll" : L"\\ONDRIX.dll");
    got = GetFullPathNameW(path, ONDRIX_PATH_, dll, NULL);
    return got == 0 || got >= MAX_PATH ? ONDRIX_SAY_TOO_LONG_ : -1;
}

/* A module that a program loaded only to look at (DONT_RESOLVE_DLL_REFERENCES)
   has its imports unbound: the first slot of its import address table still
   holds what its name table holds. A call into it would crash. */
static inline int ondrix_unbound_(HMODULE module)
{
    const BYTE *base = (const BYTE *)module;
    const IMAGE_NT_HEADERS *nt =
        (const IMAGE_NT_HEADERS *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
    DWORD at = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    const IMAGE_IMPORT_DESCRIPTOR *first = (const IMAGE_IMPORT_DESCRIPTOR *)(base + at);

    if (at == 0 || first->OriginalFirstThunk == 0)
        return 0;
    return ((const IMAGE_THUNK_DATA *)(base + first->FirstThunk))->u1.Function ==
           ((const IMAGE_THUNK_DATA *)(base + first->OriginalFirstThunk))->u1.AddressOfData;
}

/* The system folder with a trailing backslash, as Windows names it for this
   program (k = 0), or as GetSystemDirectoryW does (k = 1): a 32-bit program
   on 64-bit Windows reaches SysWOW64 by both. 0 where it does not fit. */
static inline UINT ondrix_system_folder_(wchar_t *dir, int k)
{
    UINT n = k == 0 && sizeof(void *) == 4 ? GetSystemWow64DirectoryW(dir, MAX_PATH) : 0;

    if (n == 0 || n >= MAX_PATH)
        n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 1)
        return 0;
    dir[n++] = L'\\';
    dir[n] = 0;
    return n;
}

/* Paths compared as the file system does: ignoring case by the system's own
   table, not by the rules of the user's language (lstrcmpiW). */
static inline int ondrix_same_path_(const wchar_t *a, const wchar_t *b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

/* Whether path is name in Npcap's folder or in the system folder. */
static inline int ondrix_trusted_(const wchar_t *path, const wchar_t *name)
{
    wchar_t dir[MAX_PATH + 32];
    UINT n;
    int k, npcap;

    for (k = 0; k < 2; ++k) {
        n = ondrix_system_folder_(dir, k);
        for (npcap = 0; npcap < 2 && n != 0; ++npcap) {
            lstrcpyW(dir + n, npcap ? L"Npcap\\" : L"");
            lstrcatW(dir, name);
            if (ondrix_same_path_(dir, path))
                return 1;
        }
    }
    return 0;
}

/* A module of that name already in the process, with a reference that keeps
   it there, if it may be used: ONDRIX.dll from the path wanted, the pcap
   library from a trusted one, and either only if ready to run. */
static inline int ondrix_loaded_(const wchar_t *name, const wchar_t *wanted, wchar_t *found, HMODULE *module)
{
    DWORD got;
    int say;

    if (!GetModuleHandleExW(0, name, module)) {
        *module = NULL;
        return -1;
    }
    got = GetModuleFileNameW(*module, found, ONDRIX_PATH_);
    if (got == 0 || got >= ONDRIX_PATH_ ||
        (wanted ? !ondrix_same_path_(found, wanted) : !ondrix_trusted_(found, name)))
        say = wanted ? ONDRIX_SAY_OTHER_ONDRIX_ : ONDRIX_SAY_FOREIGN_;
    else
        say = ondrix_unbound_(*module) ? ONDRIX_SAY_UNBOUND_ : -1;
    if (say >= 0) {
        FreeLibrary(*module);
        *module = NULL;
    }
    return say;
}

/* kernel32 has AddDllDirectory exactly where LoadLibraryExW takes the
   LOAD_LIBRARY_SEARCH_* flags (Windows 8 and later, 7 with KB2533623). */
static inline DWORD ondrix_search_flags_(void)
{
    if (!GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") ||
        ONDRIX_HIDE_ADD_DLL_DIRECTORY)
        return LOAD_WITH_ALTERED_SEARCH_PATH;
    return LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
}

/* wpcap.dll by full path: Npcap's own folder first, then the system folder
   (WinPcap, or Npcap in its WinPcap API-compatible mode). */
static inline int ondrix_load_pcap_(DWORD flags, int packetLoaded, wchar_t *found, DWORD *error)
{
    UINT n = ondrix_system_folder_(found, 0);
    wchar_t *file = found + n;

    if (n == 0)
        return ONDRIX_SAY_NO_NPCAP_;
    lstrcpyW(file, L"Npcap\\wpcap.dll");
    if (!ondrix_is_file_(found))
        lstrcpyW(file, L"wpcap.dll");
    else
        file += 6; /* past Npcap\ */
    if (!ondrix_is_file_(found))
        return ONDRIX_SAY_NO_NPCAP_;
    if (flags == LOAD_WITH_ALTERED_SEARCH_PATH && !packetLoaded) {
        /* The older search would go on to the current folder and PATH. */
        lstrcpyW(file, L"Packet.dll");
        if (!ondrix_is_file_(found))
            return ONDRIX_SAY_NO_PACKET_;
        if (!LoadLibraryExW(found, NULL, flags)) {
            *error = GetLastError();
            return ONDRIX_SAY_PCAP_REFUSED_;
        }
        lstrcpyW(file, L"wpcap.dll");
    }
    if (!LoadLibraryExW(found, NULL, flags)) {
        /* Present but refused: a damaged install, or access denied. */
        *error = GetLastError();
        return ONDRIX_SAY_PCAP_REFUSED_;
    }
    return -1;
}

/* wpcap.dll and Packet.dll: those already loaded if they may be used, else
   wpcap.dll loaded. Like the library, the references stay. */
static inline int ondrix_pcap_(DWORD flags, wchar_t *found, DWORD *error)
{
    HMODULE wpcap, packet = NULL;
    int say = ondrix_loaded_(L"wpcap.dll", NULL, found, &wpcap);

    if (say < 0)
        say = ondrix_loaded_(L"Packet.dll", NULL, found, &packet);
    if (say < 0 && !wpcap)
        say = ondrix_load_pcap_(flags, packet != NULL, found, error);
    return say;
}

/* Error 193 is also what a damaged file or one that is no program gives:
   only a DLL built for the other machine is a matter of bitness. */
static inline int ondrix_other_machine_(const wchar_t *path)
{
    unsigned char head[1024];
    DWORD got = 0, at;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (!ReadFile(file, head, sizeof head, &got, NULL))
        got = 0;
    CloseHandle(file);
    if (got < 64 || head[0] != 'M' || head[1] != 'Z')
        return 0;
    at = head[60] | (DWORD)head[61] << 8 | (DWORD)head[62] << 16 | (DWORD)head[63] << 24;
    if (at > got || got - at < 24 || head[at] != 'P' || head[at + 1] != 'E' || head[at + 2] || head[at + 3])
        return 0;
    return ((head[at + 22] | head[at + 23] << 8) & IMAGE_FILE_DLL) &&
           (head[at + 4] | head[at + 5] << 8) ==
               (sizeof(void *) == 8 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64);
}

static inline int ondrix_load_dll_(const wchar_t *dll, DWORD flags, HMODULE *module, DWORD *error)
{
    /* A missing file and a missing dependency both give error 126: look for
       the file first. */
    if (!ondrix_is_file_(dll))
        return ONDRIX_SAY_NOT_FOUND_;
    *module = LoadLibraryExW(dll, NULL, flags);
    if (!*module) {
        *error = GetLastError();
        if (*error != ERROR_BAD_EXE_FORMAT)
            return ONDRIX_SAY_REFUSED_;
        return ondrix_other_machine_(dll) ? ONDRIX_SAY_BITNESS_ : ONDRIX_SAY_DAMAGED_;
    }
    /* The exports are found by the name ONDRIX.dll: it must be this module. */
    if (GetModuleHandleW(L"ONDRIX.dll") != *module) {
        FreeLibrary(*module);
        *module = NULL;
        return ONDRIX_SAY_NOT_BOUND_;
    }
    return -1;
}

static inline HMODULE OndrixLoadW(const wchar_t *folder, wchar_t *message, size_t messageSize)
{
    wchar_t name[ONDRIX_PATH_], dll[ONDRIX_PATH_], found[ONDRIX_PATH_], number[12];
    DWORD flags = ondrix_search_flags_(), error = 0;
    HMODULE module = NULL;
    int say = ondrix_folder_(folder, name);

    if (say < 0)
        say = ondrix_dll_path_(name, dll);
    if (say < 0)
        say = ondrix_loaded_(L"ONDRIX.dll", dll, found, &module);
    if (say < 0 && !module)
        say = ondrix_pcap_(flags, found, &error);
    if (say < 0 && !module)
        say = ondrix_load_dll_(dll, flags, &module, &error);
    ondrix_say_(message, messageSize, say,
                say <= ONDRIX_SAY_RELATIVE_   ? folder
                : say <= ONDRIX_SAY_NO_NPCAP_ ? found
                                              : name,
                say == ONDRIX_SAY_OTHER_ONDRIX_ ? dll : ondrix_number_(error, number));
    return module;
}

static inline HMODULE OndrixLoad(const char *folder, char *message, size_t messageSize)
{
    wchar_t wideFolder[1024], wideMessage[1536];
    HMODULE module;
    int got;

    if (folder && !MultiByteToWideChar(CP_ACP, 0, folder, -1, wideFolder, 1024)) {
        /* Too long to be a folder anyway: its start gives the same answer. */
        got = MultiByteToWideChar(CP_ACP, 0, folder, 1000, wideFolder, 1023);
        wideFolder[got > 0 ? got : 0] = 0;
    }
    module = OndrixLoadW(folder ? wideFolder : NULL, wideMessage, sizeof wideMessage / sizeof wideMessage[0]);
    if (message && messageSize > 0)
        ondrix_to_ansi_(wideMessage, message, messageSize);
    return module;
}

#endif /* ONDRIX_LOAD_H */
