/* ondrix-capture: host values as a VB program has them, and the adapter. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ondrix-capture.h"

BSTR make_bstr(const char *text)
{
#ifdef _WIN32
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    BSTR s = SysAllocStringLen(NULL, (UINT)(n > 0 ? n - 1 : 0));
    if (s && n > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, s, n);
    return s;
#else
    size_t n = strlen(text), i;
    OLECHAR *wide = (OLECHAR *)malloc((n + 1) * sizeof(OLECHAR));
    BSTR s;
    if (!wide)
        return NULL;
    for (i = 0; i < n; ++i)
        wide[i] = (unsigned char)text[i];
    s = SysAllocStringLen(wide, (uint32_t)n);
    free(wide);
    return s;
#endif
}

SAFEARRAY *make_array(uint32_t count)
{
#ifdef _WIN32
    return SafeArrayCreateVector(VT_UI1, 0, count);
#else
    SAFEARRAY *sa = (SAFEARRAY *)calloc(1, sizeof(SAFEARRAY));
    if (!sa)
        return NULL;
    sa->cDims = 1;
    sa->cbElements = 1;
    sa->pvData = calloc(count ? count : 1, 1);
    sa->rgsabound[0].cElements = count;
    return sa;
#endif
}

void free_array(SAFEARRAY *sa, void *own, uint32_t count)
{
    if (!sa)
        return;
    sa->pvData = own;
    sa->rgsabound[0].cElements = count;
#ifdef _WIN32
    SafeArrayDestroy(sa);
#else
    free(sa->pvData);
    free(sa);
#endif
}

int fail(const char *what)
{
    BSTR e = oxGetErrorDescription();
    fprintf(stderr, "%s failed: %.*s\n", what, e ? (int)SysStringByteLen(e) : 0, e ? (const char *)e : "");
    SysFreeString(e);
    return 1;
}

int set_int(int32_t code, int32_t value)
{
    VARIANT v;
    memset(&v, 0, sizeof v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return oxSetParam(code, &v);
}

int set_text(int32_t code, const char *text)
{
    VARIANT v;
    int r;
    memset(&v, 0, sizeof v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = make_bstr(text);
    r = oxSetParam(code, &v);
    SysFreeString(V_BSTR(&v));
    return r;
}

int select_adapter(int index, const char *text)
{
    int32_t n = OndrixInit();
    if (n < 0)
        return fail("OndrixInit");
    if (text && (index = oxFindAdapter(text)) < 0)
        return fail("oxFindAdapter");
    if (oxSetCurrentAdapter(index) != 0)
        return fail("oxSetCurrentAdapter");
    return 0;
}
