#include "tool_process.h"

#include <windows.h>

#include <stdexcept>
#include <string>
#include <utility>

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
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        throwLastError("CreatePipe");
    }
    Pipe pipe{Handle(readEnd), Handle(writeEnd)};
    HANDLE kept = childReads ? writeEnd : readEnd;
    if (!SetHandleInformation(kept, HANDLE_FLAG_INHERIT, 0)) {
        throwLastError("SetHandleInformation");
    }
    return pipe;
}

std::string readAll(HANDLE readEnd) {
    std::string text;
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0) {
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

RunResult runTool(const fs::path& workDirectory, const fs::path& /*outputDirectory*/,
                  const RunOptions& options) {
    // Run as an administrator, a Windows program is still bound by the
    // read-only attribute; under Wine the suite runs unprivileged (cmake/wine-run).
    const fs::path program = builtTool();
    std::wstring commandLine;
    appendQuoted(commandLine, program.wstring());
    for (const std::string& argument : options.arguments) {
        commandLine += L' ';
        appendQuoted(commandLine, fs::path(argument).wstring());
    }

    Pipe input = makePipe(true);
    Pipe output = makePipe(false);
    Pipe error = makePipe(false);
    if (options.unwritableStdout) {
        // With no reader left, every write to the pipe fails.
        output.readEnd.reset();
    }
    if (options.refuseWrites) {
        throw std::logic_error("Windows has no switch that makes a write fail");
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.readEnd.get();
    startup.hStdOutput = output.writeEnd.get();
    startup.hStdError = error.writeEnd.get();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workDirectory.c_str(), &startup, &started)) {
        throwLastError("CreateProcessW");
    }
    const Handle process(started.hProcess);
    const Handle thread(started.hThread);
    input.readEnd.reset();
    output.writeEnd.reset();
    error.writeEnd.reset();

    RunResult result;
    if (WaitForSingleObject(process.get(), timeoutMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), INFINITE);
        result.timedOut = true;
    }
    DWORD exitCode = 0;
    if (!result.timedOut && GetExitCodeProcess(process.get(), &exitCode)) {
        result.exitStatus = static_cast<int>(exitCode);
    }
    if (!options.unwritableStdout) {
        result.standardOutput = readAll(output.readEnd.get());
    }
    result.standardError = readAll(error.readEnd.get());
    return result;
}
