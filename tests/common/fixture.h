// Shared fixture: a fresh library and an empty pcap double for each test,
// and a check afterwards that nothing handed out by pcap is still open.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api.h"
#include "fake_pcap.h"
#include "host.h"
#include "messages.h"

class LibraryTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake_reset();
        loadLibraryFresh();
    }
    void TearDown() override
    {
        unloadLibrary();
        EXPECT_EQ(fake_open_handles(), 0) << "capture handle left open";
        EXPECT_EQ(fake_open_dumpers(), 0) << "dump writer left open";
        EXPECT_EQ(fake_open_lists(), 0) << "adapter list not released";
        EXPECT_EQ(fake_open_programs(), 0) << "filter program not released";
    }

    static std::string error() { return host::take(ox.oxGetErrorDescription()); }

    static int setInt(int32_t code, int32_t value)
    {
        return ox.oxSetParam(code, host::Variant::i4(value).get());
    }
    static int setText(int32_t code, const std::string &s)
    {
        return ox.oxSetParam(code, host::Variant::str(s).get());
    }

    // Lists `count` adapters named eth0, eth1, ... through OndrixInit.
    static int32_t listAdapters(int count)
    {
        for (int i = 0; i < count; ++i)
            fake_add_adapter(("eth" + std::to_string(i)).c_str(), ("Adapter " + std::to_string(i)).c_str());
        return ox.OndrixInit();
    }

    // A live capture on the first adapter.
    static int beginLive(int32_t timeoutMs = 1000)
    {
        if (ox.OndrixInit() < 1) {
            fake_add_adapter("eth0", "Adapter 0");
            ox.OndrixInit();
        }
        return ox.oxBegin(timeoutMs);
    }

    // Live opens go through pcap_open_live on Windows and pcap_create elsewhere.
    static int liveOpens() { return fake_calls("pcap_open_live") + fake_calls("pcap_create"); }
    static int64_t openedSnapLength()
    {
        return fake_calls("pcap_open_live") ? fake_arg("pcap_open_live", 0) : fake_arg("pcap_set_snaplen", 0);
    }
    static int64_t openedPromiscuous()
    {
        return fake_calls("pcap_open_live") ? fake_arg("pcap_open_live", 1) : fake_arg("pcap_set_promisc", 0);
    }
    // The time-out the capture library got at the live open.
    static int64_t openedTimeout()
    {
        return fake_calls("pcap_open_live") ? fake_arg("pcap_open_live", 2) : fake_arg("pcap_set_timeout", 0);
    }
    static std::string openedName()
    {
        char buf[512] = {};
        if (fake_str_arg("pcap_open_live", buf, sizeof buf) < 0)
            fake_str_arg("pcap_create", buf, sizeof buf);
        return buf;
    }
    // Driver buffer requests: pcap_setbuff on Windows, pcap_set_buffer_size elsewhere.
    static int bufferRequests() { return fake_calls("pcap_setbuff") + fake_calls("pcap_set_buffer_size"); }
    static const char *bufferCall()
    {
        return fake_calls("pcap_setbuff") ? "pcap_setbuff" : "pcap_set_buffer_size";
    }
    static std::string strArg(const char *fn)
    {
        char buf[1024] = {};
        return fake_str_arg(fn, buf, sizeof buf) < 0 ? std::string("<none>") : std::string(buf);
    }
};
