// MessageTable and the two ways ErrorText is filled.
#pragma once

namespace ondrix
{

namespace msg
{
inline constexpr char InvalidState[] = "Invalid Operation in current state";
inline constexpr char NotReady[] = "Adpater not ready for capture: Use ONDRIX.oxBegin first";
inline constexpr char BufferTooSmall[] = "Buffer to small";
inline constexpr char OpenFailed[] = "Failed to open Device";
inline constexpr char BadAdapterId[] = "Adapter ID out of BOUNDS: No adapter with such ID";
inline constexpr char DumpOpenFailed[] =
    "Error opening DUMP File, use oxSetParam to set a different filename";
inline constexpr char KernelBufferFailed[] = "Error setting the selected kernel buffer size";
// Not in the original table: oxEnd reports dump data that could not be written.
inline constexpr char DumpWriteFailed[] = "Error writing DUMP File";
// A C host can pass a null record; nothing is read or written through it.
inline constexpr char NoRecord[] =
    "The record argument is a null pointer: pass a variable of the record's type";
// A capture is open, but no capture call has delivered a packet since it began or since the last one
// that returned 0 or -1.
inline constexpr char NoPacketYet[] =
    "No packet has been delivered: call this after a capture call that returns 1";
// The C runtime could not convert the packet's time to the local date and time.
inline constexpr char NoLocalTime[] = "The packet's time can't be converted to local time";
} // namespace msg

// Zero-fills ErrorText, then copies the message from its first byte.
void setError(const char *message);
// The same for a text from the capture library; longer texts are cut at 255.
void setErrorText(const char *text);

// False, with NoRecord in ErrorText, for a record a C host passed as a null
// pointer: exports that fill a record check it before anything else.
inline bool recordGiven(const void *record)
{
    if (record)
        return true;
    setError(msg::NoRecord);
    return false;
}

} // namespace ondrix
