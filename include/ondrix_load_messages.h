/*
 * ONDRIX: what OndrixLoad says when it can't load ONDRIX.dll: the sentences
 * (the same words as OxSentence in ondrix.bas), filled in and cut to fit,
 * and their ANSI form. Included by ondrix_load.h.
 */
#ifndef ONDRIX_LOAD_MESSAGES_H
#define ONDRIX_LOAD_MESSAGES_H

#ifndef ONDRIX_LOAD_H
#error "include ondrix.h, which includes ondrix_load_messages.h on Windows"
#endif

/* What OndrixLoad says, in the order of ondrix_sentence_. */
enum {
    ONDRIX_SAY_WEB_,
    ONDRIX_SAY_RELATIVE_,
    ONDRIX_SAY_OTHER_ONDRIX_,
    ONDRIX_SAY_FOREIGN_,
    ONDRIX_SAY_UNBOUND_,
    ONDRIX_SAY_NO_PACKET_,
    ONDRIX_SAY_PCAP_REFUSED_,
    ONDRIX_SAY_NO_NPCAP_,
    ONDRIX_SAY_TOO_LONG_,
    ONDRIX_SAY_NOT_FOUND_,
    ONDRIX_SAY_BITNESS_,
    ONDRIX_SAY_DAMAGED_,
    ONDRIX_SAY_REFUSED_,
    ONDRIX_SAY_NOT_BOUND_
};

/* The same words as OxSentence in ondrix.bas (a test compares them). %1 is
   the folder as given for the first two, the file found for the next five,
   else ONDRIX.dll's folder; %2 is the Windows error, or the path asked for. */
static inline const wchar_t *ondrix_sentence_(int k)
{
    static const wchar_t *const sentences[] = {
        L"%1 is a web address (a workbook opened from OneDrive or SharePoint), and ONDRIX.dll can only be "
        L"loaded from a folder on this computer: save the workbook on a local disk, or pass the local folder "
        L"that holds ONDRIX.dll (in OneDrive, set that folder to \"Always keep on this device\").",
        L"ONDRIX.dll's folder must be a full path such as C:\\ONDRIX\\x86, not \"%1\" (a new workbook or "
        L"document has no folder until it is saved).",
        L"ONDRIX.dll is already loaded in this program from %1, so %2 can't be loaded as well: restart the "
        L"program to use the other one.",
        L"%1 is already loaded: a program in this process loaded it from there, and ONDRIX uses wpcap.dll "
        L"and "
        L"Packet.dll only from Npcap's folder or the system folder. Restart the program without the add-in "
        L"or library that loads it.",
        L"%1 is already loaded but not ready to run: a program in this process loaded it only to look at it. "
        L"Restart the program without the add-in or library that loads it.",
        L"%1, which wpcap.dll needs, is missing: repair or reinstall Npcap from https://npcap.com/.",
        L"%1 could not be loaded (error %2): repair or reinstall Npcap from https://npcap.com/.",
        L"Npcap is not installed. Get it from https://npcap.com/ and install it; ONDRIX finds it in its own "
        L"folder, or anywhere when \"Install Npcap in WinPcap API-compatible Mode\" is chosen.",
        L"The path of ONDRIX.dll in %1 is too long: Windows loads a DLL only from a path shorter than 260 "
        L"characters, so move ONDRIX.dll to a shorter folder.",
        L"ONDRIX.dll was not found in %1.",
        L"ONDRIX.dll in %1 does not match this program (error 193): 64-bit Office needs x64\\ONDRIX.dll; VB6 "
        L"and 32-bit Office need x86\\ONDRIX.dll.",
        L"ONDRIX.dll in %1 is damaged or not a DLL (error %2): reinstall it from the release zip.",
        L"ONDRIX.dll in %1 could not be loaded (error %2).",
        L"ONDRIX.dll in %1 was loaded, but the program finds another module by that name first: restart the "
        L"program and call OndrixLoad before any other ONDRIX function.",
    };
    return sentences[k];
}

/* Sentence k (none: -1) with %1 and %2 filled in, cut to fit, never half a
   surrogate pair at the cut. */
static inline void ondrix_say_(wchar_t *message, size_t size, int k, const wchar_t *a, const wchar_t *b)
{
    const wchar_t *s = k < 0 ? L"" : ondrix_sentence_(k), *fill;
    size_t at = 0;

    if (!message || size == 0)
        return;
    for (; *s && at + 1 < size; ++s) {
        fill = s[0] != L'%' ? NULL : s[1] == L'1' ? a : s[1] == L'2' ? b : NULL;
        if (!fill) {
            message[at++] = *s;
            continue;
        }
        for (; *fill && at + 1 < size; ++fill)
            message[at++] = *fill;
        ++s;
    }
    if (at > 0 && message[at - 1] >= 0xD800 && message[at - 1] < 0xDC00)
        --at;
    message[at] = 0;
}

static inline const wchar_t *ondrix_number_(DWORD n, wchar_t *text)
{
    size_t i = 11;
    text[i] = 0;
    do {
        text[--i] = (wchar_t)(L'0' + n % 10);
        n /= 10;
    } while (n);
    return text + i;
}

/* The wide message in the ANSI code page, cut to fit by whole characters
   under any code page (double-byte or UTF-8): each character is converted on
   its own. */
static inline void ondrix_to_ansi_(const wchar_t *wide, char *message, size_t messageSize)
{
    size_t used = 0, i = 0, room;
    int step, got;

    while (wide[i] && used + 1 < messageSize) {
        step = wide[i] >= 0xD800 && wide[i] < 0xDC00 && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000 ? 2 : 1;
        /* A character takes at most 4 bytes. */
        room = messageSize - 1 - used;
        got = WideCharToMultiByte(CP_ACP, 0, wide + i, step, message + used, room > 8 ? 8 : (int)room, NULL,
                                  NULL);
        if (got <= 0)
            break;
        used += (size_t)got;
        i += (size_t)step;
    }
    message[used] = 0;
}

#endif /* ONDRIX_LOAD_MESSAGES_H */
