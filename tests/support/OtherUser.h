// Runs a piece of a test as a user other than root: the tests run as root here, and root may
// write what no one else may. As root, `work` runs in a forked child that has become nobody
// (65534) and its answer comes back as the child's exit status (0…255); run by anyone else it
// runs in place, that user being "other" already.
#pragma once

#ifndef _WIN32
#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

inline constexpr uid_t kNobody = 65534;

inline int AsOtherUser(const std::function<int()>& work) {
    if (::geteuid() != 0) return work();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(255);
        ::_exit(work() & 0xFF);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}
#endif
