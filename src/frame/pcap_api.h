// The pcap library's interface, included the same way by every file: the
// bottom of the layers, with the state record that holds its handles.
#pragma once

#ifdef _WIN32
#include <winsock2.h> // must come before windows.h, which pcap.h pulls in
#endif
#include <pcap.h>
