// SPDX-License-Identifier: MIT
// Runs a check in a child process with its own mount namespace, so that a
// small or read-only tmpfs can be mounted without touching the machine's
// mounts (they vanish with the child). The check returns "" when it passes or
// a description of what went wrong; the parent gets it back through a pipe.
#pragma once

#include <cerrno>
#include <cstring>
#include <functional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mount_child {

struct Outcome {
    bool skipped = false; // the machine refused the namespace or the mount
    std::string failure;  // "" when the check passed
};

// Mounts a tmpfs of `sizeKb` on `folder` in a private mount namespace, runs
// `prepare` (files may be written there), remounts it read-only when
// `readOnly`, then runs `check`.
inline Outcome run(const std::string &folder, unsigned sizeKb, bool readOnly,
                   const std::function<std::string()> &prepare,
                   const std::function<std::string()> &check) {
    int fds[2];
    if (pipe(fds) != 0) return {false, "pipe failed"};
    pid_t pid = fork();
    if (pid < 0) return {false, "fork failed"};
    if (pid == 0) {
        close(fds[0]);
        auto report = [&](const std::string &text, int code) {
            (void)!write(fds[1], text.data(), text.size());
            _exit(code);
        };
        if (unshare(CLONE_NEWNS) != 0)
            report(std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno), 77);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            report(std::string("making / private: ") + std::strerror(errno), 77);
        std::string options = "size=" + std::to_string(sizeKb) + "k";
        if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
            report(std::string("mount -t tmpfs: ") + std::strerror(errno), 77);
        if (std::string f = prepare(); !f.empty()) report(f, 1);
        if (readOnly &&
            mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            report(std::string("remount read-only: ") + std::strerror(errno), 77);
        report(check(), 0);
    }
    close(fds[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return {false, "the child was killed by signal " + std::to_string(WTERMSIG(status))};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return {true, text};
    if (WEXITSTATUS(status) == 1) return {false, "preparing: " + text};
    return {false, text};
}

} // namespace mount_child
