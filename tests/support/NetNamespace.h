// Private network namespaces for capture tests. The body runs in a child
// process (ChildProcess) inside a fresh network namespace, so it sees only the
// interfaces made for it, no traffic of other tests, and nothing it does
// reaches the machine's network. Everything created lives in namespaces that
// vanish when the child and its helper end, whatever the outcome.
//
//   EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunWithVeth([](const auto& veth) {
//       // capture on veth.localAddress, send to veth.peerAddress:veth.echoPort
//   }));
//
// The body skips (ChildProcess::SkipChild) when namespaces cannot be created.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace testsupport {

class NetNamespace {
public:
    /// The veth pair that RunWithVeth sets up.
    struct Veth {
        std::string localName = "qv0";         ///< the end in the body's namespace
        std::string peerName = "qv1";          ///< the end in the peer namespace
        std::string localAddress = "10.77.0.1";
        std::string peerAddress = "10.77.0.2";
        int prefixLength = 24;
        unsigned short echoPort = 7;           ///< UDP port on peerAddress that sends each datagram back
    };

    /// Runs body in a child inside a fresh network namespace whose only
    /// interface is lo, up, with 127.0.0.1.
    static ChildOutcome RunIsolated(const std::function<void()>& body, int timeoutSeconds = 60);

    /// As RunIsolated, plus a veth pair: localName with localAddress in the
    /// body's namespace, peerName with peerAddress in a second private
    /// namespace where a UDP echo service answers on echoPort. Both ends are up
    /// when body starts. Deleting localName (DeleteLink) removes the pair.
    static ChildOutcome RunWithVeth(const std::function<void(const Veth&)>& body, int timeoutSeconds = 60);

    /// Runs the ip tool with the arguments in the calling process's namespace
    /// and waits for it; true on exit status 0.
    static bool RunIp(const std::vector<std::string>& arguments);
    /// Adds count distinct /32 addresses (10.90.0.1 upwards) to the device of
    /// the calling process's namespace with one ip process; returns them, or
    /// nothing when ip failed.
    static std::vector<std::string> AddAddresses(const std::string& device, int count);
    /// Deletes a network interface of the calling process's namespace.
    static bool DeleteLink(const std::string& name);
};

}  // namespace testsupport
