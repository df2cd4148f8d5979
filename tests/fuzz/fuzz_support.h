// What the fuzz targets share: a property check that stops the fuzzer with a
// reproducer, a reader that takes the input from the front (so hand-made
// seeds read as they are written), and the settings every state must hold.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/state.h"

#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond);                 \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzz
{

// Little-endian fields from the front of the input; zeros once it runs out.
class Reader
{
  public:
    Reader(const uint8_t *data, size_t size) : p_(data), left_(size) {}
    bool more() const { return left_ > 0; }
    uint8_t u8() { return left_ ? (--left_, *p_++) : 0; }
    // Operands of | are evaluated in no fixed order: read the low part first.
    uint16_t u16()
    {
        uint16_t low = u8();
        return static_cast<uint16_t>(low | u8() << 8);
    }
    uint32_t u32()
    {
        uint32_t low = u16();
        return low | static_cast<uint32_t>(u16()) << 16;
    }
    // Copies up to n bytes into out and zero-fills the rest.
    void bytes(void *out, size_t n)
    {
        if (n == 0)
            return;
        size_t k = n < left_ ? n : left_;
        std::memcpy(out, p_, k);
        std::memset(static_cast<uint8_t *>(out) + k, 0, n - k);
        p_ += k;
        left_ -= k;
    }

  private:
    const uint8_t *p_;
    size_t left_;
};

inline bool terminated(const char *text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

// Only values the parameter rules accept ever reach the settings.
inline void checkSettings(const ondrix::CaptureSettings &s)
{
    FUZZ_CHECK(s.snapLength >= 1 && s.snapLength <= 65536);
    FUZZ_CHECK(s.promiscuous == 0 || s.promiscuous == 1);
    FUZZ_CHECK(s.captureMode == 1 || s.captureMode == 8 || s.captureMode == 100);
    FUZZ_CHECK(s.captureSource == 1001 || s.captureSource == 1002);
    FUZZ_CHECK(terminated(s.dumpFileName, sizeof s.dumpFileName));
    FUZZ_CHECK(s.dumpFileName[0] != '\0');
    FUZZ_CHECK(terminated(s.filterText, sizeof s.filterText));
    FUZZ_CHECK(s.dumpFileSize >= 0 && s.dumpFileSeconds >= 0 && s.dumpFileCount >= 0);
}

} // namespace fuzz
