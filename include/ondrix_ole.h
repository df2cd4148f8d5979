/*
 * ONDRIX: stand-ins for the OLE Automation types on systems other than
 * Windows: BSTR, SAFEARRAY and VARIANT with the field order and widths of
 * 64-bit Windows, and the string calls a host needs, so that the same host
 * code builds on both. Part of the interface: hosts pass these to the
 * exports. Included by ondrix.h where it applies; include that instead.
 */
#ifndef ONDRIX_OLE_H
#define ONDRIX_OLE_H

#ifndef ONDRIX_H
#error "include ondrix.h, which includes ondrix_ole.h where it applies"
#endif

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Host types with the field order and widths of 64-bit Windows. */
typedef uint16_t OLECHAR;
typedef OLECHAR *BSTR;
typedef uint16_t VARTYPE;

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_UI1 = 17,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000
};

typedef struct tagSAFEARRAYBOUND {
    uint32_t cElements;
    int32_t lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
    uint16_t cDims;
    uint16_t fFeatures;
    uint32_t cbElements;
    uint32_t cLocks;
    void *pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

typedef struct tagVARIANT {
    VARTYPE vt;
    uint16_t wReserved1;
    uint16_t wReserved2;
    uint16_t wReserved3;
    union {
        int64_t llVal;
        int32_t lVal;
        int16_t iVal;
        uint8_t bVal;
        float fltVal;
        double dblVal;
        BSTR bstrVal;
        void *byref;
        struct {
            void *pvRecord;
            void *pRecInfo;
        } brecVal;
    };
} VARIANT;

#define V_VT(X) ((X)->vt)
#define V_I2(X) ((X)->iVal)
#define V_I4(X) ((X)->lVal)
#define V_R8(X) ((X)->dblVal)
#define V_BSTR(X) ((X)->bstrVal)

ONDRIX_STATIC_ASSERT(offsetof(SAFEARRAY, cLocks) == 8, "SAFEARRAY.cLocks");
ONDRIX_STATIC_ASSERT(offsetof(SAFEARRAY, pvData) == 16, "SAFEARRAY.pvData");
ONDRIX_STATIC_ASSERT(offsetof(SAFEARRAY, rgsabound) == 24, "SAFEARRAY.rgsabound");
ONDRIX_STATIC_ASSERT(offsetof(VARIANT, lVal) == 8, "VARIANT value");
ONDRIX_STATIC_ASSERT(sizeof(VARIANT) == 24, "VARIANT size");

/*
 * A BSTR points just past a 4-byte byte count and ends with two zero bytes,
 * as on Windows. These stand in for the oleaut32 calls a host needs.
 */
static inline BSTR SysAllocStringByteLen(const char *bytes, uint32_t len)
{
    char *block = (char *)malloc((size_t)len + 6);
    if (!block)
        return NULL;
    memcpy(block, &len, 4);
    if (bytes)
        memcpy(block + 4, bytes, len);
    else
        memset(block + 4, 0, len);
    block[4 + len] = 0;
    block[5 + len] = 0;
    return (BSTR)(void *)(block + 4);
}

static inline BSTR SysAllocStringLen(const OLECHAR *text, uint32_t chars)
{
    if (chars > 0x7FFFFFFFu)
        return NULL;
    return SysAllocStringByteLen((const char *)text, chars * 2);
}

static inline uint32_t SysStringByteLen(BSTR s)
{
    uint32_t len = 0;
    if (s)
        memcpy(&len, (const char *)s - 4, 4);
    return len;
}

static inline uint32_t SysStringLen(BSTR s) { return SysStringByteLen(s) / 2; }

static inline void SysFreeString(BSTR s)
{
    if (s)
        free((char *)s - 4);
}

#endif /* ONDRIX_OLE_H */
