// The library's messages, exactly as hosts see them, typos included.
#pragma once

#include <string>

namespace text
{
inline const std::string InvalidState = "Invalid Operation in current state";
inline const std::string NotReady = "Adpater not ready for capture: Use ONDRIX.oxBegin first";
inline const std::string BufferTooSmall = "Buffer to small";
inline const std::string OpenFailed = "Failed to open Device";
inline const std::string BadAdapterId = "Adapter ID out of BOUNDS: No adapter with such ID";
inline const std::string DumpOpenFailed =
    "Error opening DUMP File, use oxSetParam to set a different filename";
inline const std::string KernelBufferFailed = "Error setting the selected kernel buffer size";
inline const std::string DumpWriteFailed = "Error writing DUMP File";
inline const std::string NoRecord =
    "The record argument is a null pointer: pass a variable of the record's type";
inline const std::string NoPacketYet =
    "No packet has been delivered: call this after a capture call that returns 1";
} // namespace text
