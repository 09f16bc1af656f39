#include "file_lock.h"
#include "tool_process.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include <windows.h>

namespace fs = std::filesystem;

const char* const newline = "\r\n";

namespace {

constexpr DWORD timeoutMilliseconds = 10000;

[[noreturn]] void throwLastError(const std::string& what) {
    throw std::runtime_error(what + " failed with Windows error " + std::to_string(GetLastError()));
}

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    HANDLE get() const { return handle_; }
    void reset() {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

private:
    HANDLE handle_ = nullptr;
};

// One end goes to the child (inheritable), the other stays here.
struct Pipe {
    Handle readEnd;
    Handle writeEnd;
};

Pipe makePipe(bool childReads) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (CreatePipe(&readEnd, &writeEnd, &inheritable, 0) == FALSE) {
        throwLastError("CreatePipe");
    }
    Pipe pipe{Handle(readEnd), Handle(writeEnd)};
    HANDLE kept = childReads ? writeEnd : readEnd;
    if (SetHandleInformation(kept, HANDLE_FLAG_INHERIT, 0) == FALSE) {
        throwLastError("SetHandleInformation");
    }
    return pipe;
}

std::string readAll(HANDLE readEnd) {
    std::string text;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) != FALSE && count > 0) {
        text.append(buffer, count);
    }
    return text;
}

fs::path builtTool() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throwLastError("GetModuleFileNameW");
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return fs::path(path).parent_path() / CONTENT_REPAIR_TOOL_NAME;
}

// Quoted so that the child's C runtime splits it back into the same arguments.
void appendQuoted(std::wstring& commandLine, const std::wstring& argument) {
    commandLine += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t character : argument) {
        if (character == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless they precede a quote.
        commandLine.append(character == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        commandLine += character;
    }
    commandLine.append(backslashes * 2, L'\\');
    commandLine += L'"';
}

} // namespace

struct ToolRun::Process {
    Pipe input;
    Pipe output;
    Pipe error;
    Handle process;
    Handle thread;
};

ToolRun::ToolRun(const fs::path& workDirectory, const fs::path& /*outputDirectory*/,
                 const RunOptions& options)
    : process_(std::make_unique<Process>()) {
    if (options.refuseWrites) {
        throw std::logic_error("Windows has no switch that makes a write fail");
    }
    // Run as an administrator, a Windows program is still bound by the
    // read-only attribute; under Wine the suite runs unprivileged (cmake/wine-run).
    const fs::path program = builtTool();
    std::wstring commandLine;
    appendQuoted(commandLine, program.wstring());
    for (const std::string& argument : options.arguments) {
        commandLine += L' ';
        appendQuoted(commandLine, fs::path(argument).wstring());
    }

    Process& process = *process_;
    process.input = makePipe(true);
    process.output = makePipe(false);
    process.error = makePipe(false);
    if (options.unwritableStdout) {
        // With no reader left, every write to the pipe fails.
        process.output.readEnd.reset();
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = process.input.readEnd.get();
    startup.hStdOutput = process.output.writeEnd.get();
    startup.hStdError = process.error.writeEnd.get();
    PROCESS_INFORMATION started{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       workDirectory.c_str(), &startup, &started) == FALSE) {
        throwLastError("CreateProcessW");
    }
    process.process = Handle(started.hProcess);
    process.thread = Handle(started.hThread);
    // Only the child holds these ends now, so the pipes end with it.
    process.input.readEnd.reset();
    process.output.writeEnd.reset();
    process.error.writeEnd.reset();
}

ToolRun::~ToolRun() {
    if (process_->process.get() != nullptr) {
        TerminateProcess(process_->process.get(), 1);
        WaitForSingleObject(process_->process.get(), INFINITE);
    }
}

// The tool's output is far smaller than a pipe's buffer, so it is read once
// the process has ended.
RunResult ToolRun::wait() {
    Process& process = *process_;
    RunResult result;
    if (WaitForSingleObject(process.process.get(), timeoutMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(process.process.get(), 1);
        WaitForSingleObject(process.process.get(), INFINITE);
        result.timedOut = true;
    }
    DWORD exitCode = 0;
    if (!result.timedOut && GetExitCodeProcess(process.process.get(), &exitCode) != FALSE) {
        result.exitStatus = static_cast<int>(exitCode);
    }
    process.process.reset();
    process.thread.reset();
    if (process.output.readEnd.get() != nullptr) {
        result.standardOutput = readAll(process.output.readEnd.get());
    }
    result.standardError = readAll(process.error.readEnd.get());
    return result;
}

struct LockedFile::Hold {
    Handle file;
    OVERLAPPED region{};
};

LockedFile::LockedFile(const fs::path& file) : hold_(std::make_unique<Hold>()) {
    hold_->file = Handle(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (hold_->file.get() == nullptr) {
        throwLastError("CreateFileW");
    }
    if (LockFileEx(hold_->file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   MAXDWORD, MAXDWORD, &hold_->region) == FALSE) {
        throwLastError("LockFileEx");
    }
}

LockedFile::~LockedFile() {
    UnlockFileEx(hold_->file.get(), 0, MAXDWORD, MAXDWORD, &hold_->region);
}
