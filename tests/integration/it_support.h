// What the integration tests share: a reset of its
// settings between tests, a temporary folder per test, Ethernet frames, and
// capture files written and read with libpcap itself.
#pragma once

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "messages.h"
#include "ondrix.h"

using Bytes = std::vector<uint8_t>;

// One packet of a capture file as libpcap reads or writes it.
struct SavedPacket {
    int64_t seconds;
    int32_t micros;
    uint32_t wireLength;
    Bytes data; // the captured bytes
};

std::string lastError();
// Puts a known text into ErrorText, to see later whether a call changed it.
std::string markError();

int setInt(int32_t code, int32_t value);
int setText(int32_t code, const std::string &value);
// Stores a filter; remembered so that later tests in this process can neutralise it.
int setFilter(const std::string &expression);

// Copies bytes into a host array of exactly that size.
void fill(host::ByteArray &array, const Bytes &bytes);
Bytes contents(const host::ByteArray &array, size_t count);

// An Ethernet frame with zero addresses and a local experimental EtherType,
// padded to `length` with a pattern that depends on `seq`.
constexpr uint16_t kTestEtherType = 0x88B5;
Bytes testFrame(size_t length, uint8_t seq);

// An Ethernet/IPv4 frame carrying UDP or TCP between the given ports.
Bytes ipFrame(uint8_t protocol, uint16_t srcPort, uint16_t dstPort, size_t payload);

// Capture files written and read by libpcap directly, never by the library.
void writeCaptureFile(const std::string &path, const std::vector<SavedPacket> &packets,
                      int linkType = DLT_EN10MB);
std::vector<SavedPacket> readCaptureFile(const std::string &path);

// Runs a capture call until it reports something other than a read time-out,
// for at most 10 s; returns its last result.
int32_t untilNotTimeout(const std::function<int32_t()> &capture);

// Bounds a call that may block: when it has not returned `seconds` after the
// watchdog was made, the program ends with a message naming it, so a read
// that ignores its time-out fails its test at once, not at CTest's limit.
class Watchdog
{
  public:
    Watchdog(double seconds, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool returned_ = false;
    std::thread thread_;
};

// `tcpdump -r file`: its exit status and output. Status -1 when tcpdump is
// missing.
struct ToolRun {
    int status;
    std::string output;
};
ToolRun tcpdumpRead(const std::string &path);

// Each test gets the library's settings back to their initial values, nothing
// open, and a temporary folder of its own.
class IntegrationTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string &name) const { return (dir_ / name).string(); }

  private:
    std::filesystem::path dir_;
};
