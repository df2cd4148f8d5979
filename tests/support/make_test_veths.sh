#!/bin/sh
# Inside a private network namespace: two veth pairs whose facts the adapter
# details tests check. oxd0 is connected, with a MAC, MTU, IPv4, IPv6 and the
# default route; oxd2 is up with its peer down, so without carrier, and has
# no address, and a default route with no gateway. oxd4 (ifb) is down, with no
# carrier status for pcap; oxd5 is a tap given a GRE tunnel's hardware type.
# Does nothing when they exist already.
ip link show oxd0 >/dev/null 2>&1 && exit 0
set -e
ip link add oxd0 type veth peer name oxd1
ip link set oxd0 address 02:11:22:33:44:55 mtu 1400
ip addr add 192.0.2.10/24 dev oxd0
ip addr add 2001:db8::10/64 dev oxd0 nodad
ip link set oxd1 up
ip link set oxd0 up
ip route add default via 192.0.2.1 dev oxd0
ip link add oxd2 type veth peer name oxd3
ip link set oxd2 up
ip route add default dev oxd2 metric 100
ip link add oxd4 type ifb
python3 -c 'import fcntl, os, struct
tun = os.open("/dev/net/tun", os.O_RDWR)
fcntl.ioctl(tun, 0x400454CA, struct.pack("16sH", b"oxd5", 0x1002))  # TUNSETIFF: a tap, no packet info
fcntl.ioctl(tun, 0x400454CD, 778)  # TUNSETLINK: ARPHRD_IPGRE
fcntl.ioctl(tun, 0x400454CB, 1)  # TUNSETPERSIST'
