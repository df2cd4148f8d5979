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
} // namespace msg

// Zero-fills ErrorText, then copies the message from its first byte.
void setError(const char *message);
// The same for a text from the capture library; longer texts are cut at 255.
void setErrorText(const char *text);

} // namespace ondrix
