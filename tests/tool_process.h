// Runs the built content-repair executable as a separate process, the way a
// user or a script starts it, and collects what it leaves behind.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct RunOptions {
    std::vector<std::string> arguments;
    // Without administrator rights, so that permission bits and read-only
    // attributes bind (a root run ignores them).
    bool unprivileged = false;
    // Every write of the tool to a regular file fails (POSIX only).
    bool refuseWrites = false;
    // Standard output refuses every write.
    bool unwritableStdout = false;
};

struct RunResult {
    bool timedOut = false;
    int exitStatus = -1; // meaningful only when the process exited by itself
    std::string standardOutput;
    std::string standardError;
};

// The platform's line end on a text-mode standard output.
extern const char* const newline;

// One run of the tool, started with `workDirectory` as its working directory
// and a standard input that never delivers a byte. It is ended after a few
// seconds: a tool that waits for input or hangs comes back as timedOut.
// `outputDirectory` holds what the run needs outside the working directory.
class ToolRun {
public:
    ToolRun(const std::filesystem::path& workDirectory,
            const std::filesystem::path& outputDirectory, const RunOptions& options = {});
    ~ToolRun();
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;

    // Waits for the run to end and collects its output; call it once.
    RunResult wait();

private:
    struct Process;
    std::unique_ptr<Process> process_;
};

inline RunResult runTool(const std::filesystem::path& workDirectory,
                         const std::filesystem::path& outputDirectory,
                         const RunOptions& options = {}) {
    return ToolRun(workDirectory, outputDirectory, options).wait();
}
