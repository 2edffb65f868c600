#pragma once
// Scratch directories and child processes for the tests that need a process
// of their own: one that drops its privileges, is killed, or mounts.
#include "support/fd_text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace scratch {

// The unprivileged user that a root child turns into.
constexpr uid_t nobody = 65534;

// A fresh directory that any user may enter (mode 0755); removed with its contents.
class Directory {
public:
    explicit Directory(const char* stem)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / stem).string() + ".XXXXXX";
        if (mkdtemp(pattern.data()))
            path_ = pattern;
        if (!path_.empty())
            std::filesystem::permissions(path_, std::filesystem::perms(0755));
    }
    ~Directory()
    {
        if (path_.empty())
            return;
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// `from` copied as `to`, owned by root and `group`, with `mode`. A program run
// as another user is run from such a copy in a Directory: the build tree may
// lie under a home that user cannot enter.
inline bool copyProgram(const std::string& from, const std::string& to, gid_t group, mode_t mode)
{
    std::error_code e;
    return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, e) &&
           chown(to.c_str(), 0, group) == 0 && chmod(to.c_str(), mode) == 0;
}

// Leaves root for nobody, capabilities and all. True when already unprivileged.
inline bool dropPrivileges()
{
    if (geteuid() != 0)
        return true;
    return setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0 && geteuid() == nobody;
}

struct ChildResult {
    int status = -1;        // waitpid status
    std::string errorText;  // what the child wrote to standard error
    bool exited(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// Runs `body` in a forked child whose standard error the parent collects; the
// child ends with body's return value.
inline ChildResult runChild(const std::function<int()>& body)
{
    ChildResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return result;
    }
    if (pid == 0) {
        close(pipeFds[0]);
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[1]);
        int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    close(pipeFds[1]);
    result.errorText = testsupport::readToEnd(pipeFds[0]);
    close(pipeFds[0]);
    while (waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {}
    return result;
}

// Starts `program`, argv[0] `name` and then `args`, with its standard input,
// output and error on the given descriptors (-1 keeps the caller's). The
// child's pid, or -1; a child that cannot run the program ends with 127.
inline pid_t spawn(const std::string& program, const std::string& name, const std::vector<std::string>& args, int in,
                   int out, int err)
{
    std::vector<char*> argv{const_cast<char*>(name.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (in >= 0)
            dup2(in, STDIN_FILENO);
        if (out >= 0)
            dup2(out, STDOUT_FILENO);
        if (err >= 0)
            dup2(err, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// A child that runs `take` and then holds what it took until release() is
// called; `took` is what `take` returned.
class Holder {
public:
    explicit Holder(const std::function<bool()>& take)
    {
        int ready[2], hold[2];
        if (pipe(ready) != 0 || pipe(hold) != 0)
            return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(hold[1]);
            char c = take() ? 'y' : 'n';
            (void)!write(ready[1], &c, 1);
            (void)!read(hold[0], &c, 1);
            _exit(0);
        }
        close(ready[1]);
        close(hold[0]);
        char c = 0;
        (void)!read(ready[0], &c, 1);
        close(ready[0]);
        took = c == 'y';
        release_ = hold[1];
    }
    ~Holder() { release(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    // Lets the child end; false when it could not be waited for.
    bool release()
    {
        if (release_ >= 0)
            close(release_);
        release_ = -1;
        bool reaped = true;
        if (pid_ > 0)
            reaped = waitpid(pid_, nullptr, 0) == pid_;
        pid_ = -1;
        return reaped;
    }

    bool took = false;

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

}  // namespace scratch
