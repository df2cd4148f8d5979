/* ondrix-capture send: one frame, given in hex, sent a number of times. */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ondrix-capture.h"

int cmd_send(const struct options *o)
{
    size_t len = strlen(o->hex), i, n = 0;
    SAFEARRAY *sa;
    unsigned char *bytes;
    long t;
    int status = 0;

    if (len == 0 || len % 2) {
        fprintf(stderr, "the frame needs an even number of hex digits\n");
        return 2;
    }
    sa = make_array((uint32_t)(len / 2));
    if (!sa)
        return 1;
    bytes = (unsigned char *)sa->pvData;
    for (i = 0; i < len; i += 2) {
        char pair[3] = {o->hex[i], o->hex[i + 1], 0};
        if (!isxdigit((unsigned char)pair[0]) || !isxdigit((unsigned char)pair[1])) {
            fprintf(stderr, "not a hex frame: %s\n", o->hex);
            free_array(sa, bytes, (uint32_t)(len / 2));
            return 2;
        }
        bytes[n++] = (unsigned char)strtoul(pair, NULL, 16);
    }
    set_int(ParamCaptureSource, SourceLive);
    set_int(ParamCaptureMode, ModeAlias);
    if (select_adapter(o->index, o->adapter)) {
        status = 1;
    } else if (oxBegin(100) != 0) {
        status = fail("oxBegin");
    } else {
        for (t = 0; t < o->times && status == 0; ++t)
            if (oxSendPacket(&sa) != 0)
                status = fail("oxSendPacket");
        if (status == 0)
            printf("sent %ld frame(s) of %lu bytes\n", o->times, (unsigned long)n);
        oxEnd();
    }
    free_array(sa, bytes, (uint32_t)(len / 2));
    OndrixTerminate();
    return status;
}
