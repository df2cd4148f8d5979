// The packet the last capture call delivered, as the exports that describe
// it (its fields, its name, its time) reach it.
#pragma once

#include "frame/errors.h"
#include "frame/state.h"

namespace ondrix
{

// Its pcap header, or null with the reason in ErrorText: a null record, no
// capture open, or a capture whose last call delivered no packet.
inline const pcap_pkthdr *deliveredPacket(const void *record)
{
    if (!recordGiven(record))
        return nullptr;
    if (!state.delivered.header)
        setError(state.running ? msg::NoPacketYet : msg::NotReady);
    return state.delivered.header;
}

} // namespace ondrix
