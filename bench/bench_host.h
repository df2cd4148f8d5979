// Host-side values for the benchmark programs, made the way a VB host has
// them: a byte-array variable holding a descriptor, and variants for
// oxSetParam.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ondrix.h"

namespace bench
{

class HostArray
{
  public:
    explicit HostArray(uint32_t count) : own_(static_cast<uint8_t *>(std::calloc(count ? count : 1, 1)))
    {
        std::memset(&sa_, 0, sizeof sa_);
        sa_.cDims = 1;
        sa_.cbElements = 1;
        sa_.pvData = own_;
        sa_.rgsabound[0].cElements = count;
        var_ = &sa_;
    }
    ~HostArray() { std::free(own_); }
    HostArray(const HostArray &) = delete;
    HostArray &operator=(const HostArray &) = delete;

    SAFEARRAY **var() { return &var_; }
    const uint8_t *data() const { return static_cast<const uint8_t *>(sa_.pvData); }
    uint32_t count() const { return sa_.rgsabound[0].cElements; }
    uint32_t locks() const { return sa_.cLocks; }

  private:
    uint8_t *own_;
    SAFEARRAY sa_;
    SAFEARRAY *var_;
};

inline int32_t setInt(int32_t code, int32_t value)
{
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return oxSetParam(code, &v);
}

inline int32_t setText(int32_t code, const std::string &text)
{
    std::u16string wide(text.begin(), text.end());
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) =
        SysAllocStringLen(reinterpret_cast<const OLECHAR *>(wide.data()), static_cast<uint32_t>(wide.size()));
    int32_t r = oxSetParam(code, &v);
    SysFreeString(V_BSTR(&v));
    return r;
}

inline std::string lastError()
{
    BSTR s = oxGetErrorDescription();
    std::string text = s ? std::string(reinterpret_cast<const char *>(s), SysStringByteLen(s)) : "";
    SysFreeString(s);
    return text;
}

} // namespace bench
