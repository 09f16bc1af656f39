#include "scratch_dir.h"
#include "tool_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

const char* const newline = "\n";

namespace {

constexpr unsigned timeoutSeconds = 10;

[[noreturn]] void throwSystemError(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

fs::path builtTool() {
    return fs::read_symlink("/proc/self/exe").parent_path() / CONTENT_REPAIR_TOOL_NAME;
}

int openOrThrow(const fs::path& path, int flags) {
    const int descriptor = ::open(path.c_str(), flags | O_CLOEXEC);
    if (descriptor < 0) {
        throwSystemError("open " + path.string());
    }
    return descriptor;
}

struct Pipe {
    int readEnd;
    int writeEnd;
};

Pipe makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throwSystemError("pipe");
    }
    return {ends[0], ends[1]};
}

// Until every writer has closed its end: the child's exit or its alarm.
std::string readAll(int readEnd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(readEnd, buffer, sizeof buffer);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return text;
        }
    }
}

struct Account {
    uid_t user;
    gid_t group;
};

Account unprivilegedAccount() {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) {
        throw std::runtime_error("no user 'nobody' to run as");
    }
    return {nobody->pw_uid, nobody->pw_gid};
}

// Between fork and exec only async-signal-safe calls are made; any failure
// ends the child with status 127, which no test expects.
[[noreturn]] void startChild(const fs::path& program, char* const* argv, const fs::path& workDir,
                             int input, int output, int error, const RunOptions& options,
                             const Account* account) {
    if (::chdir(workDir.c_str()) != 0 || ::dup2(input, STDIN_FILENO) < 0 ||
        ::dup2(output, STDOUT_FILENO) < 0 || ::dup2(error, STDERR_FILENO) < 0) {
        ::_exit(127);
    }
    if (options.refuseWrites) {
        // With the size limit at zero, any write to a regular file fails with
        // EFBIG, which is what an ignored SIGXFSZ turns the signal into.
        const rlimit noGrowth{0, 0};
        if (::setrlimit(RLIMIT_FSIZE, &noGrowth) != 0 || std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) {
            ::_exit(127);
        }
    }
    if (account != nullptr && (::setgroups(0, nullptr) != 0 || ::setgid(account->group) != 0 ||
                               ::setuid(account->user) != 0)) {
        ::_exit(127);
    }
    // The alarm outlives exec: a hanging tool is ended by SIGALRM.
    ::alarm(timeoutSeconds);
    ::execv(program.c_str(), argv);
    ::_exit(127);
}

} // namespace

RunResult runTool(const fs::path& workDirectory, const fs::path& outputDirectory,
                  const RunOptions& options) {
    fs::path program = builtTool();
    const bool dropRights = options.unprivileged && ::geteuid() == 0;
    Account account{};
    if (dropRights) {
        account = unprivilegedAccount();
        // The build tree may lie where the unprivileged user cannot reach it.
        const fs::path copy = outputDirectory / program.filename();
        fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
        program = copy;
    }

    // Pipes rather than files carry the output: a file size limit binds
    // regular files only.
    const Pipe output =
        options.unwritableStdout ? Pipe{-1, openOrThrow("/dev/full", O_WRONLY)} : makePipe();
    const Pipe error = makePipe();
    // The write end stays open in this process, so a read of stdin would block.
    const Pipe input = makePipe();

    std::vector<std::string> argumentStorage{program.string()};
    argumentStorage.insert(argumentStorage.end(), options.arguments.begin(),
                           options.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStorage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) {
        throwSystemError("fork");
    }
    if (child == 0) {
        startChild(program, argv.data(), workDirectory, input.readEnd, output.writeEnd,
                   error.writeEnd, options, dropRights ? &account : nullptr);
    }
    ::close(output.writeEnd);
    ::close(error.writeEnd);

    RunResult result;
    if (!options.unwritableStdout) {
        result.standardOutput = readAll(output.readEnd);
    }
    result.standardError = readAll(error.readEnd);

    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            throwSystemError("waitpid");
        }
    }
    ::close(input.readEnd);
    ::close(input.writeEnd);
    ::close(output.readEnd);
    ::close(error.readEnd);

    result.timedOut = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
