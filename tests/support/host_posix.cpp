#include <cstdlib>

#include "host.h"

namespace host
{

ByteArray::ByteArray(uint32_t count, uint8_t fill)
{
    sa_ = static_cast<SAFEARRAY *>(std::calloc(1, sizeof(SAFEARRAY)));
    sa_->cDims = 1;
    sa_->cbElements = 1;
    own_ = std::malloc(count ? count : 1);
    std::memset(own_, fill, count);
    sa_->pvData = own_;
    sa_->rgsabound[0].cElements = count;
    ownCount_ = count;
}

ByteArray::~ByteArray()
{
    std::free(own_);
    std::free(sa_);
}

bool ByteArray::resize(uint32_t count)
{
    if (sa_->cLocks)
        return false;
    void *p = std::realloc(own_, count ? count : 1);
    if (!p)
        return false;
    own_ = p;
    sa_->pvData = own_;
    sa_->rgsabound[0].cElements = count;
    ownCount_ = count;
    return true;
}

} // namespace host
