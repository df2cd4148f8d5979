#include "private_net.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace private_net
{

namespace
{
bool g_ready = false;
std::string g_why = "private_net::enter() was not called";

std::string failure(const char *what)
{
    std::string s = std::string(what) + ": " + std::strerror(errno);
    if (errno == EPERM)
        s += " (needs root or CAP_SYS_ADMIN and CAP_NET_RAW)";
    return s;
}

bool bringLoopbackUp()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        g_why = failure("socket for SIOCSIFFLAGS");
        return false;
    }
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags |= IFF_UP;
        ok = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    }
    if (!ok)
        g_why = failure("bringing lo up");
    close(fd);
    return ok;
}
} // namespace

void enter()
{
    // The namespace belongs to the calling thread; the tests run on this one.
    if (unshare(CLONE_NEWNET) != 0) {
        g_why = failure("unshare(CLONE_NEWNET)");
        return;
    }
    g_ready = bringLoopbackUp();
    if (g_ready)
        g_why.clear();
}

bool ready() { return g_ready; }
const std::string &whyNot() { return g_why; }

} // namespace private_net
