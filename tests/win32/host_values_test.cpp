// Strings, variants, the clock and adapter details as the real oleaut32,
// msvcrt and iphlpapi give them.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <winsock2.h> // before iphlpapi.h, which needs its types

#include <iphlpapi.h>

#include "fixture.h"

using host::take;

namespace
{

class OleStrings : public LibraryTest
{
};

TEST_F(OleStrings, ErrorTextComesBackAsCountedAnsiBytes)
{
    BSTR s = ox.oxGetErrorDescription();
    ASSERT_NE(s, nullptr) << "an empty text is an allocated string";
    EXPECT_EQ(SysStringByteLen(s), 0u);
    SysFreeString(s);

    // An odd byte count can't be expressed in UTF-16 units: the byte length must carry it.
    ASSERT_EQ(ox.oxSetCurrentAdapter(0), -1);
    s = ox.oxGetErrorDescription();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(SysStringByteLen(s), text::NotReady.size());
    EXPECT_EQ(SysStringLen(s), text::NotReady.size() / 2);
    const char *bytes = reinterpret_cast<const char *>(s);
    EXPECT_EQ(std::string(bytes, SysStringByteLen(s)), text::NotReady);
    EXPECT_EQ(bytes[text::NotReady.size()], 0) << "oleaut32 ends the bytes with a zero";

    fake_add_adapter("eth0", nullptr);
    ASSERT_EQ(ox.OndrixInit(), 1);
    AdapterInfoRecord rec;
    ASSERT_EQ(ox.oxGetAdapterInfo(1, &rec), -1);
    BSTR t = ox.oxGetErrorDescription();
    EXPECT_NE(t, s) << "each call returns a new string";
    EXPECT_EQ(SysStringByteLen(t), text::BadAdapterId.size());
    EXPECT_EQ(take(t), text::BadAdapterId);
    SysFreeString(s);
}

TEST_F(OleStrings, Vb5SlotsReceiveNewStringsAndLoseTheOldOnes)
{
    fake_add_adapter("\\Device\\NPF_{00000001-0000-0000-0000-4E6574446576}", "lo");
    fake_add_adapter("eth1", nullptr);
    ASSERT_EQ(ox.OndrixInit(), 2);

    BSTR name = SysAllocString(L"previous name");
    BSTR desc = SysAllocString(L"previous description");
    // The old strings are freed first, so the allocator may hand their memory
    // back: what counts is the content.
    ASSERT_EQ(ox.oxGetAdapterInfoVB5(0, &name, &desc), 0);
    EXPECT_EQ(SysStringByteLen(name), std::strlen("\\Device\\NPF_{00000001-0000-0000-0000-4E6574446576}"));
    EXPECT_EQ(host::bytes(name), "\\Device\\NPF_{00000001-0000-0000-0000-4E6574446576}");
    EXPECT_EQ(host::bytes(desc), "lo");

    // The slots now hold the library's strings; it frees them when it refills the slots.
    ASSERT_EQ(ox.oxGetAdapterInfoVB5(1, &name, &desc), 0);
    EXPECT_EQ(host::bytes(name), "eth1");
    EXPECT_EQ(desc, nullptr) << "no description gives a null string";

    // A refused index leaves the slots as they were.
    BSTR keptName = name;
    ASSERT_EQ(ox.oxGetAdapterInfoVB5(2, &name, &desc), -1);
    EXPECT_EQ(name, keptName);
    EXPECT_EQ(desc, nullptr);
    SysFreeString(name);
}

class OleVariants : public LibraryTest
{
  protected:
    // A variant as VB fills it: VariantInit, then the tag and the value.
    static int setBstr(int32_t code, const wchar_t *text)
    {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = text ? SysAllocString(text) : nullptr;
        int r = ox.oxSetParam(code, &v);
        VariantClear(&v);
        return r;
    }

    // The filter text as pcap_compile received it at the next start.
    std::string storedFilter()
    {
        if (beginLive() != 0)
            return "<begin failed: " + error() + ">";
        std::string s = strArg("pcap_compile");
        ox.oxEnd();
        return s;
    }
};

TEST_F(OleVariants, TextIsConvertedWithTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the checks below assume Windows-1252";
    ASSERT_EQ(setBstr(ParamFilter, L"host caf\u00e9 or \u20ac or \u0142"), 0)
        << "characters the code page lacks are converted, not refused";
    std::string got = storedFilter();
    ASSERT_EQ(got.size(), std::string("host cafe or E or l").size()) << got;
    EXPECT_EQ(static_cast<unsigned char>(got[8]), 0xE9) << "\u00e9 is 0xE9 in 1252";
    EXPECT_EQ(static_cast<unsigned char>(got[13]), 0x80) << "\u20ac is 0x80 in 1252";
    // 1252 has no \u0142; the system's best fit gives a similar letter.
    unsigned char lstroke = static_cast<unsigned char>(got[18]);
    EXPECT_TRUE(lstroke == 'l' || lstroke == '?') << "\u0142 became 0x" << std::hex << int(lstroke);
    std::printf("[ info ] U+0142 stored as 0x%02X ('%c') with code page %u\n", lstroke, lstroke, GetACP());

    ASSERT_EQ(setBstr(ParamDumpFileName, L"capture-\u00e9.cap"), 0);
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    ASSERT_EQ(ox.oxBegin(0), 0);
    EXPECT_EQ(strArg("pcap_open_offline"), "capture-\xE9.cap");
    ox.oxEnd();
}

TEST_F(OleVariants, TheBufferHolds259CharactersAndItsTerminator)
{
    std::wstring fits(259, L'a');
    std::wstring tooLong(260, L'b');
    ASSERT_EQ(setBstr(ParamFilter, fits.c_str()), 0);
    EXPECT_EQ(setBstr(ParamFilter, tooLong.c_str()), -1);
    EXPECT_EQ(setBstr(ParamFilter, L""), -1);
    EXPECT_EQ(setBstr(ParamFilter, nullptr), -1);
    EXPECT_EQ(storedFilter(), std::string(259, 'a')) << "refusals keep the stored text";

    // To the numeric codes a text that doesn't fit is still a string variant,
    // 0xFFFFFFFF, so the next start makes no driver buffer request.
    EXPECT_EQ(setBstr(ParamKernelBufferSize, tooLong.c_str()), 0);
    int requests = bufferRequests();
    ASSERT_EQ(beginLive(), 0);
    EXPECT_EQ(bufferRequests(), requests);
}

TEST_F(OleVariants, OnlyI2I4AndBstrByValueAreTaken)
{
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(ox.oxSetParam(ParamSnapLength, &v), -1) << "VT_EMPTY";
    V_VT(&v) = VT_I2;
    V_I2(&v) = -1;
    EXPECT_EQ(ox.oxSetParam(ParamSnapLength, &v), -1) << "-1 widens to 0xFFFFFFFF";
    V_I2(&v) = 1500;
    EXPECT_EQ(ox.oxSetParam(ParamSnapLength, &v), 0);
    LONG four = 4;
    V_VT(&v) = VT_I4 | VT_BYREF;
    V_I4REF(&v) = &four;
    EXPECT_EQ(ox.oxSetParam(ParamSnapLength, &v), -1);
    V_VT(&v) = VT_R8;
    V_R8(&v) = 64.0;
    EXPECT_EQ(ox.oxSetParam(ParamSnapLength, &v), -1);
    V_VT(&v) = VT_UI2;
    V_UI2(&v) = 64;
    EXPECT_EQ(ox.oxSetParam(ParamSnapLength, &v), -1);

    ASSERT_EQ(beginLive(), 0);
    EXPECT_EQ(openedSnapLength(), 1500);
}

// The system's adapter for a pcap name whose GUID is spelt in another case.
class SystemAdapters : public LibraryTest
{
};

TEST_F(SystemAdapters, DetailsOfAGuidInLowerCase)
{
    static char buffer[64 * 1024];
    ULONG size = sizeof buffer;
    auto *a = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer);
    ASSERT_EQ(GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, a, &size), 0u);
    char guid[64] = {}, name[64] = {};
    std::strncpy(guid, a->AdapterName, sizeof guid - 1);
    ASSERT_STRNE(_strlwr(guid), a->AdapterName) << "no letters to change";
    fake_add_adapter((std::string("\\Device\\NPF_") + guid).c_str(), nullptr);
    ASSERT_EQ(ox.OndrixInit(), 1);
    AdapterDetailsRecord d;
    ASSERT_EQ(ox.oxGetAdapterDetails(0, &d), 0);
    WideCharToMultiByte(CP_ACP, 0, a->FriendlyName, -1, name, sizeof name, nullptr, nullptr);
    EXPECT_STREQ(d.friendlyName, name);
    EXPECT_NE(name[0], 0);
}

// Runs in a process of its own (see CMakeLists.txt): msvcrt reads TZ once, at
// the first conversion, so the zone must be in the environment before it.
class FirstClock : public LibraryTest
{
};

TEST_F(FirstClock, LocalTimeFollowsTzReadAtTheFirstConversion)
{
    ASSERT_EQ(_putenv("TZ=ONX-3"), 0);
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0);
    ASSERT_EQ(beginLive(), 0);
    static const unsigned char frame[20] = {};
    fake_push_packet(frame, sizeof frame, sizeof frame, 5, 123456);
    host::ByteArray arr(64);
    PacketHeaderRecord hdr{};
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_EQ(hdr.hour, 3) << "1970-01-01 00:00:05 UTC is 03:00:05 three hours east";
    EXPECT_EQ(hdr.minute, 0);
    EXPECT_EQ(hdr.second, 5);
    EXPECT_EQ(hdr.microseconds, 123456);
}

} // namespace
