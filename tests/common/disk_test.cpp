// Disk mode against the pcap double: the dump written out while capturing,
// and rotation into numbered files that never replace another file.
#include <filesystem>
#include <fstream>

#include "delivery_fixture.h"

// The dump is written out for a packet in a new second and when a read finds
// nothing waiting; a failed write-out fails its call, and the capture goes on.
TEST_F(Delivery, DiskModeAppendsToTheDumpAndWritesItOut)
{
    ASSERT_EQ(begin(ModeDisk), 0);
    ByteArray arr(4, 0xEE);
    pushFrame(pkt);
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_EQ(arr.data()[0], 0xEE) << "the array is not touched";
    EXPECT_EQ(arr.count(), 4u);
    EXPECT_EQ(hdr.capturedLength, 60);
    pushFrame(frame(20));
    ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(hdr.capturedLength, 20);
    unsigned char buf[100];
    ASSERT_EQ(fake_dumped(0, buf, sizeof buf), 60);
    EXPECT_TRUE(same(buf, pkt));
    EXPECT_EQ(fake_dumped(1, buf, sizeof buf), 20);
    EXPECT_EQ(fake_calls("pcap_dump_flush"), 1) << "for the new second, not per packet";
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 0);
    EXPECT_EQ(fake_calls("pcap_dump_flush"), 2);
    pushFrame(pkt, 4);
    ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(fake_calls("pcap_dump_flush"), 3) << "the clock stepped back";
    fake_set_return("pcap_dump_flush", -1);
    pushFrame(pkt, 6);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), -1) << "a packet in a new second";
    pushFrame(pkt, 6);
    ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), -1) << "nothing waiting";
    EXPECT_EQ(error(), text::DumpWriteFailed);
    PacketSummaryRecord summary;
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1) << "the packet before is not described";
    fake_set_return("pcap_dump_flush", 0);
    pushFrame(pkt, 6);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(ox.oxEnd(), -1) << "the loss is reported again";
}

// Rotation by size, headers counted; a number another capture took is passed
// over; only this capture's newest 2 files stay, one held open deleted later;
// a new file counts once its header is written out; every loss reaches oxEnd.
TEST_F(Delivery, RotatingDumpFiles)
{
    namespace fs = std::filesystem;
    const fs::path dir = "rotation-test";
    const auto file = [&](int n) { return dir / ("cap_0000" + std::to_string(n) + ".pcap"); };
    fs::remove_all(dir);
    fs::create_directory(dir);
    EXPECT_EQ(setInt(ParamDumpFileCount, -1) & setText(ParamDumpFileSize, "1"), -1) << "numbers of 0 or more";
    ASSERT_EQ(setInt(ParamDumpFileSize, INT32_MAX) | setInt(ParamDumpFileSeconds, INT32_MAX) |
                  setInt(ParamDumpFileCount, INT32_MAX) |
                  setText(ParamDumpFileName, (dir / "cap.pcap").string()) |
                  setInt(ParamDumpFileSize, 24 + 3 * 76 - 1) | setInt(ParamDumpFileSeconds, 0) |
                  setInt(ParamDumpFileCount, 2) | setInt(ParamCaptureMode, ModeDisk) | beginLive(-1),
              0);
    // Packet size; what happens first ('f': another capture makes file 4;
    // 'h', 'o', 'c': the new file's header write-out, its open, the old
    // file's write-out fail); result; the file it went into; write-outs.
    const int steps[][5] = {{60, 0, 1, 1, 1}, {60, 0, 1, 1, 0},     {60, 0, 1, 2, 3},   {60, 0, 1, 2, 0},
                            {59, 0, 1, 2, 0}, {300, 0, 1, 3, 3},    {60, 'f', 1, 5, 3}, {300, 'h', -1, 0, 2},
                            {60, 0, 1, 6, 2}, {300, 'o', -1, 0, 1}, {60, 0, 1, 7, 2},   {300, 'c', -1, 8, 3}};
    PacketSummaryRecord summary;
    for (const auto &step : steps) {
        const int i = static_cast<int>(&step - steps);
#ifdef _WIN32 // a viewer holds the file the count deletes next: file 1 over 2 rotations, 5 up to oxEnd
        static HANDLE viewer;
        if (i == 7 || i == 11) {
            EXPECT_TRUE(fs::exists(file(i == 7 ? 1 : 5)) && !fs::exists(file(2)) && CloseHandle(viewer));
        }
        if (i == 5 || i == 9)
            viewer = CreateFileW(file(i == 5 ? 1 : 5).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
#endif
        if (i == 11) { // only the failed rotations have lost packets so far
            EXPECT_EQ(ox.oxEnd(), -1);
            ASSERT_EQ(beginLive(-1), 0); // files 8 and 9
            pushFrame(frame(300));
            ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
        }
        const char *failing = step[1] == 'o' ? "pcap_dump_open" : "pcap_dump_flush";
        if (step[1] == 'f')
            std::ofstream(file(4)).put('x');
        else if (step[1])
            fake_fail(failing, fake_calls(failing) + (step[1] == 'h' ? 2 : 1));
        const int flushes = fake_calls("pcap_dump_flush");
        pushFrame(frame(step[0]));
        const int r = ox.oxCaptureDiskSafe(&hdr);
        EXPECT_EQ(r, step[2]) << step[0] << " bytes, " << step[1];
        EXPECT_EQ(fake_calls("pcap_dump_flush") - flushes, step[4]);
        if (step[3]) {
            EXPECT_EQ(strArg("pcap_dump_open"), fs::absolute(file(step[3] + (i == 11))).string());
        }
        EXPECT_EQ(r < 0 ? error().find(step[1] == 'o' ? text::DumpOpenFailed : text::DumpWriteFailed) : 0,
                  0u);
        EXPECT_EQ(ox.oxDecodePacket(&summary), r == 1 ? 0 : -1);
        if (r < 0 && !step[3]) {
            EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 0) << "no file to write out until the next packet";
        }
    }
    EXPECT_EQ(ox.oxEnd(), -1);
    EXPECT_EQ(error(), text::DumpWriteFailed);
    EXPECT_EQ(ox.oxEnd(), 0) << "reported once";
    for (int n = 1; n <= 9; ++n)
        EXPECT_EQ(fs::exists(file(n)), n == 4 || n >= 6) << n;
    ASSERT_EQ(setInt(ParamDumpFileCount, 20) | beginLive(-1), 0); // more files than it first makes room for
    for (int n = 0; n < 40; ++n) {
        pushFrame(frame(300));
        ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    }
    EXPECT_EQ(ox.oxEnd(), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5 + 20);
    fs::remove_all(dir);
}

// Numbers go on above the highest already there under the name (5 to 10
// digits, any case); the name is a full path from oxBegin on, whatever the
// current folder. Rotation by time alone, to the microsecond.
TEST_F(Delivery, RotatedNamesStayInTheirFolder)
{
    namespace fs = std::filesystem;
    struct Case {
        std::vector<std::u16string> present;
        std::u16string name, first;
    };
    const Case cases[] = {
        {{u"cap_00006.pcap", u"CAP_00007.pcap", u"cap-00009.pcap"}, u"Cap.pcap", u"Cap_00008.pcap"},
        {{u"cap_1000000000.pcap"}, u"cap.pcap", u"cap_1000000001.pcap"},
        {{u".cap_00003"}, u".cap", u".cap_00004"},
#ifdef _WIN32 // trailing spaces and dots dropped, case ignored beyond A to Z, a drive's current folder
        {{u"cap_00004.pcap"}, u"cap.pcap. ", u"cap_00005.pcap"},
        {{u"\u00DCberwachung_00002"}, u"\u00FCberwachung", u"\u00FCberwachung_00003"},
        {{}, u"?:cap", u"cap_00001"},
#endif
    };
    const fs::path home = fs::current_path(), dir = home / "rotation-names";
    for (const Case &c : cases) {
        fake_reset();
        fs::remove_all(dir);
        fs::create_directory(dir);
        for (const std::u16string &name : c.present)
            std::ofstream(dir / name).put('x');
        fs::current_path(dir);
        std::u16string name = c.name, second = c.first;
        if (name[0] == u'?')
            name[0] = dir.u16string()[0];
        ++second[second.find_last_of(u"0123456789")];
        EXPECT_EQ(ox.oxSetParam(ParamDumpFileName, host::Variant::str(name).get()) |
                      setInt(ParamDumpFileSeconds, 2) | begin(ModeDisk),
                  0);
        fs::current_path(home);
        for (uint32_t at : {5900000u, 7100000u, 7900000u}) { // microseconds
            pushFrame(pkt, at / 1000000, at % 1000000);
            EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
            EXPECT_EQ(fake_calls("pcap_dump_open"), at < 7900000 ? 1 : 2) << at;
        }
        EXPECT_EQ(ox.oxEnd(), 0);
        EXPECT_TRUE(fs::exists(dir / c.first) && fs::exists(dir / second)) << fs::path(c.first);
    }
    fs::remove_all(dir);
}

TEST_F(Delivery, DiskNeedsADumpWriter)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    pushFrame(pkt);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), -1);
    EXPECT_EQ(error(), text::NotReady);
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0); // switched while running
    ByteArray arr(100);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(fake_calls("pcap_next_ex"), 0) << "no packet taken";
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0); // read on every call
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_FALSE(arr.aliased());
}
