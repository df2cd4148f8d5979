// Alias delivery through the real ONDRIX.dll into arrays made by oleaut32 as
// VB's ReDim makes them (descriptor and data in separate blocks), then the
// steps of ondrix.bas's OxAliasArray and OxRelease, done the way the module
// does them: kernel32's RtlMoveMemory reads the descriptor's address from the
// array variable and writes zeros at the module's offsets. Run under Wine's
// heap checking:
//   alias_release release   every sequence must be clean
//   alias_release keep      the same sequences without the release steps;
//                           Wine must report a bad free in each section
// Each section is announced on stderr ("== name") so the checker can tell
// which one Wine complained about.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake_pcap.h"
#include "ondrix.h"

namespace
{

// The offsets ondrix.bas writes at, read from the module by the build.
constexpr size_t kDataOffset = ONDRIX_BAS_DATA_OFFSET;
constexpr size_t kCountOffset = ONDRIX_BAS_COUNT_OFFSET;

bool releasing;

void section(const char *name)
{
    std::fprintf(stderr, "== %s\n", name);
    std::fflush(stderr);
}

void check(bool ok, const char *what)
{
    if (ok)
        return;
    std::fprintf(stderr, "FAILED: %s\n", what);
    std::exit(1);
}

// What the module's Declares reach: the kernel32 export. (The SDK header
// turns RtlMoveMemory into memmove.)
using MoveMemory = void(WINAPI *)(void *, const void *, SIZE_T);
MoveMemory moveMemory;

// OxDescriptor: the descriptor address held in the array variable.
LONG_PTR descriptorOf(SAFEARRAY **variable)
{
    LONG_PTR descriptor = 0;
    moveMemory(&descriptor, variable, sizeof descriptor);
    return descriptor;
}

void zeroDataAndCount(LONG_PTR descriptor)
{
    const LONG_PTR noData = 0;
    const LONG noElements = 0;
    moveMemory(reinterpret_cast<void *>(descriptor + kDataOffset), &noData, sizeof noData);
    moveMemory(reinterpret_cast<void *>(descriptor + kCountOffset), &noElements, sizeof noElements);
}

// OxRelease.
void release(SAFEARRAY **variable)
{
    if (!releasing)
        return;
    if (LONG_PTR descriptor = descriptorOf(variable))
        zeroDataAndCount(descriptor);
}

// What VB's ReDim does to a variable without an array.
void redim(SAFEARRAY **variable, ULONG count)
{
    SAFEARRAYBOUND bound = {count, 0};
    *variable = SafeArrayCreate(VT_UI1, 1, &bound);
    check(*variable && (*variable)->pvData, "SafeArrayCreate");
}

// OxAliasArray on a fresh variable: ReDim packet(0), drop its data block.
void prepare(SAFEARRAY **variable)
{
    redim(variable, 1);
    LONG_PTR descriptor = descriptorOf(variable);
    check(SafeArrayDestroyData(reinterpret_cast<SAFEARRAY *>(descriptor)) == S_OK, "SafeArrayDestroyData");
    zeroDataAndCount(descriptor);
    check(!(*variable)->pvData && (*variable)->rgsabound[0].cElements == 0, "a prepared array has no data");
}

const unsigned char kFrame[60] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0, 0, 0, 0, 1, 0x08, 0x00, 0x45};

void deliver(SAFEARRAY **variable, bool mem)
{
    PacketHeaderRecord header;
    fake_push_packet(kFrame, sizeof kFrame, sizeof kFrame, 5, 7);
    int r = mem ? oxCaptureMem(variable, &header) : oxCapture(variable, &header);
    check(r == 1, "a packet is delivered");
    check((*variable)->rgsabound[0].cElements == sizeof kFrame + (mem ? 1 : 0), "element count of the alias");
    check(std::memcmp((*variable)->pvData, kFrame, sizeof kFrame) == 0, "the array shows the packet");
}

void released(SAFEARRAY *sa)
{
    if (releasing)
        check(!sa->pvData && sa->rgsabound[0].cElements == 0 && sa->cLocks == 0,
              "released: no data, no elements");
}

// Counts the task allocator's blocks (oleaut32 keeps arrays there) that were
// allocated while it watched and are not freed yet.
class BlockCounter : public IMallocSpy
{
  public:
    LONG live = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        *out = iid == IID_IUnknown || iid == IID_IMallocSpy ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T bytes) override { return bytes; }
    void *STDMETHODCALLTYPE PostAlloc(void *block) override
    {
        live += block != nullptr;
        return block;
    }
    void *STDMETHODCALLTYPE PreFree(void *block, BOOL watched) override
    {
        live -= block && watched;
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void *block, SIZE_T bytes, void **newBlock, BOOL) override
    {
        *newBlock = block;
        return bytes;
    }
    void *STDMETHODCALLTYPE PostRealloc(void *block, BOOL) override { return block; }
    void *STDMETHODCALLTYPE PreGetSize(void *block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T bytes, BOOL) override { return bytes; }
    void *STDMETHODCALLTYPE PreDidAlloc(void *block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void *, BOOL, int allocated) override { return allocated; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

LONG blocksLeftBy(bool prepared, int rounds)
{
    // Not freed: a spy whose blocks are still out stays registered.
    auto *counter = new BlockCounter;
    check(CoRegisterMallocSpy(counter) == S_OK, "CoRegisterMallocSpy");
    for (int i = 0; i < rounds; ++i) {
        SAFEARRAY *pkt = nullptr;
        if (prepared)
            prepare(&pkt);
        else
            redim(&pkt, 1);
        deliver(&pkt, false);
        release(&pkt);
        check(SafeArrayDestroy(pkt) == S_OK, "SafeArrayDestroy");
    }
    CoRevokeMallocSpy();
    return counter->live;
}

} // namespace

int main(int argc, char **argv)
{
    check(argc == 2 && (!std::strcmp(argv[1], "release") || !std::strcmp(argv[1], "keep")),
          "usage: alias_release release|keep");
    releasing = !std::strcmp(argv[1], "release");
    check(kDataOffset == offsetof(SAFEARRAY, pvData), "ondrix.bas's data pointer offset");
    check(kCountOffset == offsetof(SAFEARRAY, rgsabound[0].cElements), "ondrix.bas's element count offset");
    moveMemory = reinterpret_cast<MoveMemory>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "RtlMoveMemory")));
    check(moveMemory != nullptr, "kernel32 exports RtlMoveMemory");

    fake_reset();
    fake_add_adapter("\\Device\\NPF_{00000001-0000-0000-0000-000000000001}", "test");
    check(OndrixInit() == 1, "OndrixInit");
    VARIANT mode;
    VariantInit(&mode);
    V_VT(&mode) = VT_I4;
    V_I4(&mode) = ModeAlias;
    check(oxSetParam(ParamCaptureMode, &mode) == 0, "ModeAlias");
    check(oxBegin(100) == 0, "oxBegin");

    section("oxCapture into a prepared array, then SafeArrayDestroy");
    SAFEARRAY *pkt = nullptr;
    prepare(&pkt);
    deliver(&pkt, false);
    release(&pkt);
    released(pkt);
    SafeArrayDestroy(pkt);

    section("oxCaptureMem into an array of its own, then SafeArrayRedim and SafeArrayDestroy");
    pkt = nullptr;
    redim(&pkt, 16);
    deliver(&pkt, true);
    release(&pkt);
    released(pkt);
    SAFEARRAYBOUND bigger = {100, 0};
    HRESULT hr = SafeArrayRedim(pkt, &bigger);
    if (releasing) {
        check(hr == S_OK && pkt->pvData && pkt->rgsabound[0].cElements == 100,
              "a released array can be resized");
        std::memset(pkt->pvData, 0x5A, 100);
    }
    SafeArrayDestroy(pkt);

    if (releasing) {
        section("OxRelease on an array never given a size");
        pkt = nullptr;
        release(&pkt);
        check(pkt == nullptr, "nothing is written");

        // Releasing drops the array's own block: a prepared array has none,
        // one ReDim'd by the host leaks it every round.
        section("prepared arrays leave nothing behind");
        const int rounds = 200;
        LONG prepared = blocksLeftBy(true, rounds);
        LONG unprepared = blocksLeftBy(false, rounds);
        std::fprintf(stderr, "oleaut32 blocks left after %d rounds: prepared %ld, ReDim'd %ld\n", rounds,
                     static_cast<long>(prepared), static_cast<long>(unprepared));
        check(unprepared == rounds, "the counter sees the ReDim'd arrays' blocks");
        check(prepared == 0, "prepared arrays leave no block behind");
    }

    oxEnd();
    OndrixTerminate();
    section("done");
    return 0;
}
