/*
 * ondrix-capture: what its commands share. The host values are made as a VB
 * program has them (variants, byte-array variables, ANSI error strings).
 */
#ifndef ONDRIX_CAPTURE_H
#define ONDRIX_CAPTURE_H

#include "ondrix.h"

struct options {
    int index;
    const char *adapter, *file, *filter, *out, *mode;
    long count, max_timeouts, times;
    int32_t timeout, snaplen;
    int32_t rotate_size, rotate_seconds, files; /* disk mode: OUT_00001.ext, ... */
    int no_promisc;
    const char *hex;
};

/* Host values, as a VB program would have them. */
BSTR make_bstr(const char *text);
SAFEARRAY *make_array(uint32_t count);
/* Gives the array its own memory back before freeing it: after an aliasing
   delivery it points into the capture library's buffer. */
void free_array(SAFEARRAY *sa, void *own, uint32_t count);
/* Prints what failed with the library's error text; returns 1. */
int fail(const char *what);
int set_int(int32_t code, int32_t value);
int set_text(int32_t code, const char *text);
/* By index, or by what oxFindAdapter takes when text is given; 0, or 1. */
int select_adapter(int index, const char *text);
int usage(void);

/* The commands; each returns the exit status. */
int cmd_list(void);
int cmd_capture(const struct options *o);
int cmd_send(const struct options *o);

#endif
