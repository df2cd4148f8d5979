// Host-side values as a VB program makes them: strings, variants and byte
// arrays, built with oleaut32 on Windows and the header's stand-ins elsewhere.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "ondrix.h"

namespace host
{

inline BSTR wide(const std::u16string &s)
{
    return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(s.data()), static_cast<unsigned>(s.size()));
}

inline BSTR wide(const std::string &ascii) { return wide(std::u16string(ascii.begin(), ascii.end())); }

// The bytes of a returned ANSI string.
inline std::string bytes(BSTR s)
{
    return s ? std::string(reinterpret_cast<const char *>(s), SysStringByteLen(s)) : std::string();
}

// Takes a returned string, frees it, and gives its bytes.
inline std::string take(BSTR s)
{
    std::string b = bytes(s);
    SysFreeString(s);
    return b;
}

// A variant that owns its string, as a VB temporary would.
class Variant
{
  public:
    static Variant i2(int16_t x)
    {
        Variant v(VT_I2);
        V_I2(&v.v_) = x;
        return v;
    }
    static Variant i4(int32_t x)
    {
        Variant v(VT_I4);
        V_I4(&v.v_) = x;
        return v;
    }
    static Variant r8(double x)
    {
        Variant v(VT_R8);
        V_R8(&v.v_) = x;
        return v;
    }
    static Variant empty() { return Variant(VT_EMPTY); }
    static Variant of(VARTYPE vt, int32_t bits)
    {
        Variant v(vt);
        V_I4(&v.v_) = bits;
        return v;
    }
    static Variant str(const std::u16string &s)
    {
        Variant v(VT_BSTR);
        V_BSTR(&v.v_) = wide(s);
        return v;
    }
    static Variant str(const std::string &s) { return str(std::u16string(s.begin(), s.end())); }
    static Variant nullStr() { return Variant(VT_BSTR); }

    Variant(Variant &&o) noexcept : v_(o.v_) { V_VT(&o.v_) = VT_EMPTY; }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    ~Variant()
    {
        if (V_VT(&v_) == VT_BSTR)
            SysFreeString(V_BSTR(&v_));
    }
    const VARIANT *get() const { return &v_; }

  private:
    explicit Variant(VARTYPE vt)
    {
        std::memset(&v_, 0, sizeof v_);
        V_VT(&v_) = vt;
    }
    VARIANT v_;
};

// A one-dimensional byte array and the host's variable that holds it.
class ByteArray
{
  public:
    explicit ByteArray(uint32_t count, uint8_t fill = 0xAA);
    ~ByteArray();
    ByteArray(const ByteArray &) = delete;
    ByteArray &operator=(const ByteArray &) = delete;

    SAFEARRAY **var() { return &sa_; }
    uint32_t count() const { return sa_->rgsabound[0].cElements; }
    const uint8_t *data() const { return static_cast<const uint8_t *>(sa_->pvData); }
    bool aliased() const { return sa_->pvData != own_; }
    uint32_t locks() const { return sa_->cLocks; }
    // What a VB ReDim does; fails while the array is locked.
    bool resize(uint32_t count);

  private:
    SAFEARRAY *sa_ = nullptr;
    void *own_ = nullptr;
    uint32_t ownCount_ = 0;
};

} // namespace host
