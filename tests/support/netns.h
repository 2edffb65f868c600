#pragma once
// Kernel-facing test helpers. Every test that opens an interface first moves
// its process into a network namespace of its own, so the machine's real
// adapters are never seen, let alone opened.
#include <string>

namespace testsupport {

// unshare(CLONE_NEWNET) for the calling process. The new namespace holds only
// its loopback, down. False, with the reason in *why, when the process may not
// (no CAP_SYS_ADMIN); callers then skip.
bool enterPrivateNetns(std::string* why);

// Brings an interface of the current namespace up or down.
bool setLinkUp(const std::string& name, bool up, std::string* why);

// The interface's promiscuity count as the kernel keeps it (netlink), which
// unlike IFF_PROMISC also counts packet-socket memberships; -1 on failure.
int promiscuityOf(const std::string& name);

// Entries in /proc/self/fd, not counting the one used to list them.
int openFdCount();

}  // namespace testsupport
