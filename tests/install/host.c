/*
 * A host built from the installed ondrix.h and library alone: reads a saved
 * capture in copy mode and prints how many packets and bytes it held.
 */
#include <ondrix.h>
#include <stdio.h>
#include <string.h>

static int32_t set_number(int32_t code, int32_t value)
{
    VARIANT v;
    memset(&v, 0, sizeof v);
    v.vt = VT_I4;
    v.lVal = value;
    return oxSetParam(code, &v);
}

static int32_t set_text(int32_t code, const char *text)
{
    OLECHAR wide[260];
    size_t n = strlen(text), i;
    VARIANT v;
    int32_t r;
    if (n >= sizeof wide / sizeof wide[0])
        return -1;
    for (i = 0; i < n; ++i)
        wide[i] = (unsigned char)text[i];
    memset(&v, 0, sizeof v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(wide, (uint32_t)n);
    r = oxSetParam(code, &v);
    SysFreeString(v.bstrVal);
    return r;
}

int main(int argc, char **argv)
{
    static uint8_t data[65537];
    SAFEARRAY array = {1, 0, 1, 0, data, {{sizeof data, 0}}};
    SAFEARRAY *sa = &array;
    PacketHeaderRecord header;
    long packets = 0, bytes = 0;

    if (argc != 2) {
        fprintf(stderr, "usage: host FILE.pcap\n");
        return 2;
    }
    if (set_number(ParamCaptureSource, SourceFile) != 0 || set_text(ParamDumpFileName, argv[1]) != 0 ||
        set_number(ParamCaptureMode, ModeCopy) != 0 || oxBegin(1000) != 0) {
        BSTR e = oxGetErrorDescription();
        fprintf(stderr, "start failed: %.*s\n", (int)SysStringByteLen(e), e ? (const char *)e : "");
        SysFreeString(e);
        return 1;
    }
    while (oxCapture(&sa, &header) == 1) {
        ++packets;
        bytes += header.capturedLength;
    }
    oxEnd();
    printf("%ld packets, %ld bytes\n", packets, bytes);
    return 0;
}
