// Byte arrays made by oleaut32, as a VB program's ReDim makes them.
#include "host.h"

namespace host
{

ByteArray::ByteArray(uint32_t count, uint8_t fill)
{
    SAFEARRAYBOUND bound = {count, 0};
    sa_ = SafeArrayCreate(VT_UI1, 1, &bound);
    own_ = sa_->pvData;
    ownCount_ = count;
    if (count)
        std::memset(own_, fill, count);
}

ByteArray::~ByteArray()
{
    // An aliasing delivery leaves the descriptor pointing at pcap's packet
    // buffer; oleaut32 must free the array's own block, not that one.
    while (sa_->cLocks)
        SafeArrayUnlock(sa_);
    sa_->pvData = own_;
    sa_->rgsabound[0].cElements = ownCount_;
    SafeArrayDestroy(sa_);
}

bool ByteArray::resize(uint32_t count)
{
    if (sa_->cLocks)
        return false;
    sa_->pvData = own_;
    sa_->rgsabound[0].cElements = ownCount_;
    SAFEARRAYBOUND bound = {count, 0};
    if (FAILED(SafeArrayRedim(sa_, &bound)))
        return false;
    own_ = sa_->pvData;
    ownCount_ = count;
    return true;
}

} // namespace host
