// The private mount namespace behind HostsResolver: bind mounts of two files
// the parent wrote, over /etc/hosts and /etc/nsswitch.conf.
#include "tests/support/HostsResolver.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tests/support/NetNamespace.h"

namespace testsupport {

namespace {
bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::trunc);
    file << text;
    return static_cast<bool>(file.flush());
}

void BindOver(const std::string& source, const char* target) {
    if (mount(source.c_str(), target, nullptr, MS_BIND, nullptr) != 0)
        ChildProcess::FailChild(std::string("bind mount over ") + target + ": " + std::strerror(errno));
}
}  // namespace

ChildOutcome HostsResolver::Run(const std::string& hostsText, const std::function<void()>& body, int timeoutSeconds) {
    char folder[] = "/tmp/qv-hosts-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        ChildOutcome outcome;
        outcome.detail = std::string("mkdtemp: ") + std::strerror(errno);
        return outcome;
    }
    const std::string hosts = std::string(folder) + "/hosts";
    const std::string nsswitch = std::string(folder) + "/nsswitch.conf";
    ChildOutcome outcome;
    if (!WriteFile(hosts, hostsText) || !WriteFile(nsswitch, "hosts: files\n")) {
        outcome.detail = "could not write the resolver files";
    } else {
        outcome = NetNamespace::RunIsolated(
            [&] {
                if (unshare(CLONE_NEWNS) != 0)
                    ChildProcess::SkipChild(std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno));
                // Private propagation keeps the bind mounts out of the machine's namespace.
                if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                    ChildProcess::FailChild(std::string("making / private: ") + std::strerror(errno));
                BindOver(hosts, "/etc/hosts");
                BindOver(nsswitch, "/etc/nsswitch.conf");
                body();
            },
            timeoutSeconds);
    }
    unlink(hosts.c_str());
    unlink(nsswitch.c_str());
    rmdir(folder);
    return outcome;
}

}  // namespace testsupport
