// oxSetParam, with the stored settings read straight from the state record.
#include <cstring>

#include "fixture.h"
#include "frame/errors.h"
#include "frame/state.h"

using host::Variant;

namespace
{

const ondrix::CaptureSettings &settings() { return ondrix::state.settings; }

// Every setting, to show that a refusal changes none of them.
std::string snapshot()
{
    return std::string(reinterpret_cast<const char *>(&settings()), sizeof(ondrix::CaptureSettings));
}

class Params : public LibraryTest
{
  protected:
    // A refused value changes no setting and not the error text.
    void expectRefused(int32_t code, const Variant &v)
    {
        ondrix::setError("earlier failure");
        std::string before = snapshot();
        EXPECT_EQ(ox.oxSetParam(code, v.get()), -1) << "code " << code;
        EXPECT_EQ(snapshot(), before) << "code " << code;
        EXPECT_EQ(error(), "earlier failure");
    }
};

} // namespace

TEST_F(Params, InitialValues)
{
    EXPECT_EQ(settings().snapLength, 65536);
    EXPECT_EQ(settings().promiscuous, 1);
    EXPECT_STREQ(settings().dumpFileName, "Ondrixdump.cap");
    EXPECT_EQ(settings().kernelBufferSize, 4096000);
    EXPECT_EQ(settings().captureMode, ModeAlias);
    EXPECT_EQ(settings().captureSource, SourceLive);
    EXPECT_STREQ(settings().filterText, "");
}

TEST_F(Params, OnlyI2I4AndStringsAreAccepted)
{
    for (int32_t code : {0, 1, 2, 4, 6, 8, 9, 10, 12}) {
        expectRefused(code, Variant::r8(5.0));
        expectRefused(code, Variant::empty());
        expectRefused(code, Variant::of(VT_I4 | VT_BYREF, 5));
        expectRefused(code, Variant::of(VT_BSTR | VT_BYREF, 0));
        expectRefused(code, Variant::of(VT_I4 | VT_ARRAY, 5));
        EXPECT_EQ(ox.oxSetParam(code, nullptr), -1) << "no variant at all";
    }
}

TEST_F(Params, SnapLength)
{
    EXPECT_EQ(setInt(ParamSnapLength, 65536), 0);
    EXPECT_EQ(settings().snapLength, 65536);
    EXPECT_EQ(setInt(ParamSnapLength, 1), 0);
    EXPECT_EQ(settings().snapLength, 1);
    EXPECT_EQ(ox.oxSetParam(ParamSnapLength, Variant::i2(1500).get()), 0);
    EXPECT_EQ(settings().snapLength, 1500);
    expectRefused(ParamSnapLength, Variant::i4(0));
    expectRefused(ParamSnapLength, Variant::i4(65537));
    expectRefused(ParamSnapLength, Variant::i4(-1));
    expectRefused(ParamSnapLength, Variant::i2(-1)); // widens to 0xFFFFFFFF
    expectRefused(ParamSnapLength, Variant::str("100"));
}

TEST_F(Params, Promiscuous)
{
    EXPECT_EQ(setInt(ParamPromiscuous, 0), 0);
    EXPECT_EQ(settings().promiscuous, 0);
    EXPECT_EQ(ox.oxSetParam(ParamPromiscuous, Variant::i2(1).get()), 0);
    EXPECT_EQ(settings().promiscuous, 1);
    expectRefused(ParamPromiscuous, Variant::i4(2));
    expectRefused(ParamPromiscuous, Variant::i2(-1));
    expectRefused(ParamPromiscuous, Variant::str("1"));
}

TEST_F(Params, TextsForDumpFileAndFilter)
{
    EXPECT_EQ(setText(ParamDumpFileName, "out/run 1.cap"), 0);
    EXPECT_STREQ(settings().dumpFileName, "out/run 1.cap");
    EXPECT_EQ(setText(ParamFilter, "tcp port 80"), 0);
    EXPECT_STREQ(settings().filterText, "tcp port 80");

    std::string longest(259, 'f');
    EXPECT_EQ(setText(ParamFilter, longest), 0) << "259 bytes and the terminator fit";
    EXPECT_EQ(settings().filterText, longest);

    for (int32_t code : {ParamDumpFileName, ParamFilter}) {
        expectRefused(code, Variant::str(""));
        expectRefused(code, Variant::nullStr());
        expectRefused(code, Variant::str(std::string(260, 'x')));
        expectRefused(code, Variant::str(std::string(300, 'x')));
        expectRefused(code, Variant::i4(5));
    }
    EXPECT_EQ(settings().filterText, longest) << "a stored filter can't be removed";
}

TEST_F(Params, TextStopsAtTheFirstZeroCharacter)
{
    EXPECT_EQ(ox.oxSetParam(ParamFilter, Variant::str(std::u16string(u"ip\0junk", 7)).get()), 0);
    EXPECT_STREQ(settings().filterText, "ip");
}

TEST_F(Params, CharactersOutsideTheCodePageAreConvertedNotRefused)
{
    EXPECT_EQ(ox.oxSetParam(ParamDumpFileName, Variant::str(u"caf\u00e9-\u0142-\u20ac.cap").get()), 0);
    // é and € are in Windows-1252; ł is not and becomes a similar letter or '?'.
    const char *name = settings().dumpFileName;
    EXPECT_EQ(std::strncmp(name, "caf\xE9-", 5), 0);
    EXPECT_TRUE(name[5] == 'l' || name[5] == '?') << name;
    EXPECT_STREQ(name + 6, "-\x80.cap");
    // A lone surrogate is no reason to refuse either.
    EXPECT_EQ(ox.oxSetParam(ParamFilter, Variant::str(std::u16string(u"ip \xD800x", 5)).get()), 0);
    EXPECT_STREQ(settings().filterText, "ip ?x");
}

TEST_F(Params, KernelBufferSizeTakesAnything)
{
    EXPECT_EQ(setInt(ParamKernelBufferSize, -5), 0);
    EXPECT_EQ(settings().kernelBufferSize, -5);
    EXPECT_EQ(ox.oxSetParam(ParamKernelBufferSize, Variant::i2(-2).get()), 0);
    EXPECT_EQ(settings().kernelBufferSize, -2);
    EXPECT_EQ(setText(ParamKernelBufferSize, "big"), 0);
    EXPECT_EQ(settings().kernelBufferSize, -1);
    EXPECT_EQ(setText(ParamKernelBufferSize, std::string(300, 'x')), 0) << "a text that doesn't fit";
    EXPECT_EQ(settings().kernelBufferSize, -1);
}

TEST_F(Params, CaptureModeBitTests)
{
    struct Case {
        int32_t value, mode;
    } cases[] = {{1, 1}, {8, 8}, {100, 100}, {9, 1}, {101, 1}, {108, 100}, {1000, 8}, {1001, 1}};
    for (auto c : cases) {
        ondrix::state.settings.captureMode = 55;
        EXPECT_EQ(setInt(ParamCaptureMode, c.value), 0) << c.value;
        EXPECT_EQ(settings().captureMode, c.mode) << c.value;
    }
    for (int32_t keep : {0, 2, 4, 16, 96}) {
        ondrix::state.settings.captureMode = 100;
        EXPECT_EQ(setInt(ParamCaptureMode, keep), 0) << keep;
        EXPECT_EQ(settings().captureMode, 100) << keep;
    }
    expectRefused(ParamCaptureMode, Variant::i4(1002));
    expectRefused(ParamCaptureMode, Variant::i2(-1));
    expectRefused(ParamCaptureMode, Variant::str("1"));
}

TEST_F(Params, CaptureSource)
{
    EXPECT_EQ(setInt(ParamCaptureSource, 1002), 0);
    EXPECT_EQ(settings().captureSource, SourceFile);
    EXPECT_EQ(ox.oxSetParam(ParamCaptureSource, Variant::i2(1001).get()), 0);
    EXPECT_EQ(settings().captureSource, SourceLive);
    expectRefused(ParamCaptureSource, Variant::i4(1000));
    expectRefused(ParamCaptureSource, Variant::i4(1003));
    expectRefused(ParamCaptureSource, Variant::i4(0));
    expectRefused(ParamCaptureSource, Variant::str("1002"));
}

TEST_F(Params, IgnoredCodesSucceedAndChangeNothing)
{
    std::string before = snapshot();
    for (int32_t code : {3, 4, 5, 7, 11, 12, 1000, -1, INT32_MIN}) {
        EXPECT_EQ(setInt(code, 7), 0) << code;
        EXPECT_EQ(ox.oxSetParam(code, Variant::i2(-7).get()), 0) << code;
        EXPECT_EQ(setText(code, std::string(300, 'x')), 0) << code;
        EXPECT_EQ(ox.oxSetParam(code, Variant::nullStr().get()), 0) << code;
    }
    EXPECT_EQ(snapshot(), before);
}

TEST(ErrorTextCut, LongCaptureLibraryTextKeepsItsTerminator)
{
    std::string t(300, 'e');
    ondrix::setErrorText(t.c_str());
    EXPECT_EQ(std::string(ondrix::state.errorText), t.substr(0, 255));
    ondrix::setError("short");
    EXPECT_EQ(std::string(ondrix::state.errorText, 6), std::string("short\0", 6));
    EXPECT_EQ(ondrix::state.errorText[255], 0);
    EXPECT_EQ(ondrix::state.errorText[10], 0) << "the whole buffer is zero-filled first";
}
