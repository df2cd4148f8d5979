// The library's state right after it is loaded, before any other call.
#include <gtest/gtest.h>

#include "ondrix.h"

TEST(LoadState, ErrorDescriptionIsAnAllocatedEmptyStringBeforeAnyCall)
{
    BSTR text = oxGetErrorDescription();
    ASSERT_NE(text, nullptr) << "an empty text is still a string the host can free";
    EXPECT_EQ(SysStringByteLen(text), 0u);
    EXPECT_EQ(reinterpret_cast<const char *>(text)[0], '\0');
    SysFreeString(text);

    // Reading it changes nothing.
    BSTR again = oxGetErrorDescription();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(SysStringByteLen(again), 0u);
    SysFreeString(again);
}

TEST(LoadState, NoAdapterIsCurrentBeforeTheFirstListing) { EXPECT_EQ(oxGetCurrentAdapter(), -1); }
