// Fault injection: every pcap call that can fail is made to fail, one at a
// time, at each of its positions inside oxBegin (live, live disk mode with a
// filter, saved file with a filter) and inside each export during a running
// capture. After every failure the double holds nothing the state does not
// own, a failed start leaves the library idle, and the result and ErrorText
// are the ones the rules give for that call.
#include <functional>
#include <map>
#include <set>

#include "fixture.h"
#include "frame/state.h"

namespace
{

using ondrix::state;

const char *const kFailable[] = {
    "pcap_findalldevs",     "pcap_create",    "pcap_set_snaplen", "pcap_set_promisc",  "pcap_set_timeout",
    "pcap_set_buffer_size", "pcap_activate",  "pcap_setnonblock", "pcap_open_offline", "pcap_dump_open",
    "pcap_compile",         "pcap_setfilter", "pcap_next_ex",     "pcap_dump_flush",   "pcap_sendpacket"};

const char kLibraryText[] = "fake: syntax error in filter expression";

struct Scenario {
    const char *name;
    std::function<void()> setup; // brings the library to where op starts
    std::function<int32_t()> op;
};

// What a failure of one call must lead to.
struct Outcome {
    int32_t result;
    std::string text; // empty: ErrorText unchanged
    bool idle;        // the capture is over (or never started)
};

class FaultInjection : public LibraryTest
{
  protected:
    host::ByteArray big{2048, 0xEE}, tiny{4, 0xEE};
    PacketHeaderRecord hdr{};

    static std::map<std::string, int> counts()
    {
        std::map<std::string, int> c;
        for (const char *fn : kFailable)
            c[fn] = fake_calls(fn);
        return c;
    }

    // Ends what the previous round left and starts from the initial state.
    void fresh()
    {
        unloadLibrary();
        ASSERT_EQ(fake_open_handles() + fake_open_dumpers() + fake_open_lists(), 0);
        fake_reset();
        loadLibraryFresh();
        fake_set_error(kLibraryText);
    }

    // The double holds exactly what the state owns, and never a filter program.
    void expectOwnedOnly()
    {
        EXPECT_EQ(fake_open_handles(), state.captureHandle ? 1 : 0);
        EXPECT_EQ(fake_open_dumpers(), state.dumpWriter ? 1 : 0);
        EXPECT_EQ(fake_open_lists(), state.adapterList ? 1 : 0);
        EXPECT_EQ(fake_open_programs(), 0);
        EXPECT_EQ(big.locks(), 0u);
        EXPECT_EQ(tiny.locks(), 0u);
    }

    // Calls of each failable function that op makes after setup, failure-free.
    std::map<std::string, int> callsIn(const Scenario &s)
    {
        fresh();
        s.setup();
        auto before = counts();
        s.op();
        auto after = counts();
        std::map<std::string, int> made;
        for (const char *fn : kFailable)
            if (after[fn] > before[fn])
                made[fn] = after[fn] - before[fn];
        return made;
    }

    // Fails each call op makes, one per round, and checks the outcome.
    void eachFailure(const Scenario &s, const std::function<Outcome(const std::string &)> &expected)
    {
        auto made = callsIn(s);
        ASSERT_FALSE(made.empty() && std::string(s.name).find("nothing") == std::string::npos)
            << s.name << " reaches no failable call";
        for (const auto &[fn, n] : made) {
            for (int k = 1; k <= n; ++k) {
                SCOPED_TRACE(std::string(s.name) + ": call " + std::to_string(k) + " of " + fn + " fails");
                fresh();
                s.setup();
                fake_fail(fn.c_str(), fake_calls(fn.c_str()) + k);
                const std::string textBefore = state.errorText;
                const bool wasRunning = state.running;
                const auto settingsBefore = state.settings;
                const pcap_t *handleBefore = state.captureHandle;
                const pcap_dumper_t *dumperBefore = state.dumpWriter;

                const int32_t r = s.op();
                const Outcome want = expected(fn);
                EXPECT_EQ(r, want.result);
                EXPECT_EQ(std::string(state.errorText), want.text.empty() ? textBefore : want.text);
                if (want.idle) {
                    EXPECT_EQ(state.running, 0);
                    EXPECT_EQ(state.captureHandle, nullptr);
                    EXPECT_EQ(state.dumpWriter, nullptr);
                } else if (wasRunning) {
                    EXPECT_EQ(state.running, 1);
                    EXPECT_EQ(state.captureHandle, handleBefore);
                    EXPECT_EQ(state.dumpWriter, dumperBefore);
                }
                // Only a saved-file start may change a setting (the mode).
                if (std::string(s.name).find("saved file") == std::string::npos) {
                    EXPECT_EQ(std::memcmp(&settingsBefore, &state.settings, sizeof settingsBefore), 0);
                }
                expectOwnedOnly();
            }
        }
    }

    static void liveSetup(int32_t mode, const char *filter)
    {
        fake_add_adapter("eth0", "Adapter 0");
        const unsigned char mask[4] = {255, 255, 255, 0};
        fake_add_address(0, 2, mask);
        ASSERT_EQ(setInt(ParamCaptureMode, mode), 0);
        if (filter) {
            ASSERT_EQ(setText(ParamFilter, filter), 0);
        }
        ASSERT_EQ(ox.OndrixInit(), 1);
    }

    static void savedFileSetup()
    {
        ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
        ASSERT_EQ(setText(ParamFilter, "tcp"), 0);
    }

    // A running live disk-mode capture with a filter and one packet queued.
    static void runningSetup()
    {
        liveSetup(ModeDisk, "ip");
        ASSERT_EQ(ox.oxBegin(100), 0);
        unsigned char frame[60] = {1, 2, 3};
        fake_push_packet(frame, sizeof frame, sizeof frame, 5, 0);
    }
};

// The rules for a failing start: which message, and whether it stops it.
Outcome beginOutcome(const std::string &fn)
{
    if (fn == "pcap_set_buffer_size")
        return {0, text::KernelBufferFailed, false}; // not fatal
    if (fn == "pcap_dump_open" || fn == "pcap_open_offline")
        return {-1, text::DumpOpenFailed, true};
    if (fn == "pcap_compile" || fn == "pcap_setfilter")
        return {-1, kLibraryText, true};
    return {-1, text::OpenFailed, true}; // every step of opening the adapter
}

} // namespace

TEST_F(FaultInjection, LiveStart)
{
    eachFailure({"live start", [] { liveSetup(ModeAlias, nullptr); }, [] { return ox.oxBegin(100); }},
                beginOutcome);
}

TEST_F(FaultInjection, LiveDiskStartWithFilter)
{
    eachFailure({"live disk start", [] { liveSetup(ModeDisk, "ip"); }, [] { return ox.oxBegin(100); }},
                beginOutcome);
}

TEST_F(FaultInjection, SavedFileStartWithFilter)
{
    eachFailure({"saved file start", savedFileSetup, [] { return ox.oxBegin(100); }}, beginOutcome);
    // Even a start that failed at its filter leaves the saved-file mode set.
    fresh();
    savedFileSetup();
    fake_fail("pcap_setfilter", 1);
    EXPECT_EQ(ox.oxBegin(0), -1);
    EXPECT_EQ(state.settings.captureMode, ModeCopy);
}

TEST_F(FaultInjection, AdapterListing)
{
    const auto invalid = [](const std::string &) { return Outcome{-1, text::InvalidState, false}; };
    eachFailure({"first listing", [] { fake_add_adapter("eth0", nullptr); }, [] { return ox.OndrixInit(); }},
                invalid);
    // A failed repeat releases the earlier list and keeps the selection index.
    eachFailure({"repeated listing",
                 [] {
                     fake_add_adapter("eth0", nullptr);
                     fake_add_adapter("eth1", nullptr);
                     ox.OndrixInit();
                     ox.oxSetCurrentAdapter(1);
                 },
                 [] {
                     int32_t r = ox.OndrixInit();
                     if (r < 0) {
                         EXPECT_EQ(ox.oxGetCurrentAdapter(), 1);
                         EXPECT_EQ(state.adapterCount, 0);
                     }
                     return r;
                 }},
                invalid);
    // Listing again while a capture runs fails without touching the capture.
    eachFailure({"listing while running", runningSetup, [] { return ox.OndrixInit(); }}, invalid);
}

TEST_F(FaultInjection, FailedPacketReadsSayWhyAndLeaveTheCaptureOpen)
{
    // A disk-mode packet in a new second also writes the dump out.
    const auto readFails = [](const std::string &fn) {
        return Outcome{-1, fn == "pcap_dump_flush" ? text::DumpWriteFailed : kLibraryText, false};
    };
    for (int32_t mode : {ModeDisk, ModeAlias, ModeCopy}) {
        const std::string name = "oxCapture in mode " + std::to_string(mode);
        eachFailure({name.c_str(),
                     [mode] {
                         runningSetup();
                         setInt(ParamCaptureMode, mode);
                     },
                     [this] {
                         host::ByteArray arr(2048, 0xEE); // a clean round may alias it
                         hdr.capturedLength = -7;
                         int32_t r = ox.oxCapture(arr.var(), &hdr);
                         if (r < 0 && state.errorText != std::string(text::DumpWriteFailed)) {
                             EXPECT_EQ(hdr.capturedLength, -7) << "nothing written on a failed read";
                             EXPECT_FALSE(arr.aliased());
                             EXPECT_EQ(arr.data()[0], 0xEE);
                         }
                         EXPECT_EQ(arr.locks(), 0u);
                         return r;
                     }},
                    readFails);
    }
    eachFailure({"oxCaptureMem", runningSetup,
                 [this] {
                     host::ByteArray arr(8, 0xEE);
                     int32_t r = ox.oxCaptureMem(arr.var(), &hdr);
                     EXPECT_EQ(arr.aliased(), r == 1);
                     EXPECT_EQ(arr.locks(), 0u);
                     return r;
                 }},
                readFails);
    eachFailure({"oxCaptureMemSafe", runningSetup, [this] { return ox.oxCaptureMemSafe(big.var()); }},
                readFails);
    eachFailure({"oxCaptureDiskSafe", runningSetup, [this] { return ox.oxCaptureDiskSafe(&hdr); }},
                readFails);
}

TEST_F(FaultInjection, SendingAndEnding)
{
    eachFailure({"oxSendPacket", runningSetup, [this] { return ox.oxSendPacket(tiny.var()); }},
                [](const std::string &) {
                    return Outcome{-1, "", false};
                });
    // A dump that can't be written out is reported, and everything is closed anyway.
    eachFailure({"oxEnd", runningSetup, [] { return ox.oxEnd(); }}, [](const std::string &) {
        return Outcome{-1, text::DumpWriteFailed, true};
    });
}

TEST_F(FaultInjection, ExportsThatCallNothingFailable)
{
    // These make no pcap call that can fail; the check is that they make none.
    const std::vector<Scenario> quiet = {
        {"nothing: oxSetKernelBuffSize", runningSetup, [] { return ox.oxSetKernelBuffSize(1 << 20); }},
        {"nothing: OndrixTerminate", runningSetup, [] { return ox.OndrixTerminate(); }},
        {"nothing: oxSetCurrentAdapter", runningSetup, [] { return ox.oxSetCurrentAdapter(0); }},
        {"nothing: oxGetAdapterInfo", runningSetup,
         [] {
             AdapterInfoRecord info{};
             return ox.oxGetAdapterInfo(0, &info);
         }},
        {"nothing: oxSetParam", runningSetup, [] { return setInt(ParamSnapLength, 100); }},
        {"nothing: oxGetErrorDescription", runningSetup,
         [] {
             SysFreeString(ox.oxGetErrorDescription());
             return 0;
         }},
    };
    for (const Scenario &s : quiet) {
        EXPECT_TRUE(callsIn(s).empty()) << s.name;
        expectOwnedOnly();
    }
}

TEST_F(FaultInjection, EveryFailableCallIsReached)
{
    // Guards the lists above: a pcap call added to the library later must
    // be reached by one of the scenarios, or this fails.
    std::set<std::string> reached;
    const std::vector<Scenario> all = {
        {"live", [] { liveSetup(ModeAlias, nullptr); }, [] { return ox.oxBegin(100); }},
        {"disk", [] { liveSetup(ModeDisk, "ip"); }, [] { return ox.oxBegin(100); }},
        {"file", savedFileSetup, [] { return ox.oxBegin(100); }},
        {"list", [] {}, [] { return ox.OndrixInit(); }},
        {"read", runningSetup, [this] { return ox.oxCaptureDiskSafe(&hdr); }},
        {"send", runningSetup, [this] { return ox.oxSendPacket(tiny.var()); }},
        {"end", runningSetup, [] { return ox.oxEnd(); }},
    };
    for (const Scenario &s : all)
        for (const auto &[fn, n] : callsIn(s))
            reached.insert(fn);
    for (const char *fn : kFailable) {
        EXPECT_TRUE(reached.count(fn)) << fn << " never reached";
    }
}

TEST_F(FaultInjection, EmptyPacketIntoAnArrayWithoutData)
{
    // Found by fuzzing: a 0-byte packet copied into an array of no elements
    // whose data pointer is null handed memcpy a null pointer.
    runningSetup();
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0);
    SAFEARRAY sa{};
    sa.cDims = 1;
    sa.cbElements = 1;
    SAFEARRAY *var = &sa;
    fake_reset(); // drops the queued 60-byte packet
    for (int i = 0; i < 2; ++i)
        fake_push_packet(reinterpret_cast<const unsigned char *>(""), 0, 0, 5, 0);
    EXPECT_EQ(ox.oxCapture(&var, &hdr), 1);
    EXPECT_EQ(ox.oxCaptureMemSafe(&var), -1) << "needs one element more than the packet";
    EXPECT_EQ(sa.cLocks, 0u);
    EXPECT_EQ(sa.pvData, nullptr);
}
