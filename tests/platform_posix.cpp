#include "file_lock.h"
#include "scratch_dir.h"
#include "tool_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

void closeEnd(int& descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
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
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> strings(16384);
    if (::getpwnam_r("nobody", &entry, strings.data(), strings.size(), &found) != 0 ||
        found == nullptr) {
        throw std::runtime_error("no user 'nobody' to run as");
    }
    return {entry.pw_uid, entry.pw_gid};
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

struct ToolRun::Process {
    pid_t child = -1;
    Pipe input{-1, -1};
    Pipe output{-1, -1};
    Pipe error{-1, -1};
};

ToolRun::ToolRun(const fs::path& workDirectory, const fs::path& outputDirectory,
                 const RunOptions& options)
    : process_(std::make_unique<Process>()) {
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

    Process& process = *process_;
    // Pipes rather than files carry the output: a file size limit binds
    // regular files only.
    process.output =
        options.unwritableStdout ? Pipe{-1, openOrThrow("/dev/full", O_WRONLY)} : makePipe();
    process.error = makePipe();
    // The write end stays open in this process, so a read of stdin would block.
    process.input = makePipe();

    std::vector<std::string> argumentStorage{program.string()};
    argumentStorage.insert(argumentStorage.end(), options.arguments.begin(),
                           options.arguments.end());
    std::vector<char*> argv;
    argv.reserve(argumentStorage.size() + 1);
    std::transform(argumentStorage.begin(), argumentStorage.end(), std::back_inserter(argv),
                   [](std::string& argument) { return argument.data(); });
    argv.push_back(nullptr);

    process.child = ::fork();
    if (process.child < 0) {
        throwSystemError("fork");
    }
    if (process.child == 0) {
        startChild(program, argv.data(), workDirectory, process.input.readEnd,
                   process.output.writeEnd, process.error.writeEnd, options,
                   dropRights ? &account : nullptr);
    }
    closeEnd(process.input.readEnd);
    closeEnd(process.output.writeEnd);
    closeEnd(process.error.writeEnd);
}

ToolRun::~ToolRun() {
    Process& process = *process_;
    if (process.child > 0) {
        ::kill(process.child, SIGKILL);
        int status = 0;
        while (::waitpid(process.child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (int* descriptor :
         {&process.input.writeEnd, &process.output.readEnd, &process.error.readEnd}) {
        closeEnd(*descriptor);
    }
}

RunResult ToolRun::wait() {
    Process& process = *process_;
    RunResult result;
    if (process.output.readEnd >= 0) {
        result.standardOutput = readAll(process.output.readEnd);
    }
    result.standardError = readAll(process.error.readEnd);

    int status = 0;
    while (::waitpid(process.child, &status, 0) < 0) {
        if (errno != EINTR) {
            throwSystemError("waitpid");
        }
    }
    process.child = -1;

    result.timedOut = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

struct LockedFile::Hold {
    int descriptor = -1;
};

LockedFile::LockedFile(const fs::path& file) : hold_(std::make_unique<Hold>()) {
    hold_->descriptor = openOrThrow(file, O_RDWR);
    struct flock wholeFile {};
    wholeFile.l_type = F_WRLCK;
    wholeFile.l_whence = SEEK_SET;
    if (::flock(hold_->descriptor, LOCK_EX | LOCK_NB) != 0 ||
        ::fcntl(hold_->descriptor, F_SETLK, &wholeFile) != 0) {
        throwSystemError("lock " + file.string());
    }
}

LockedFile::~LockedFile() {
    ::close(hold_->descriptor);
}
