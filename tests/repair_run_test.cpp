// Black-box runs of the built tool in scratch directories: what a run prints,
// its exit status, and what it does to the files it finds.
#include "file_lock.h"
#include "header_cases.h"
#include "scratch_dir.h"
#include "tool_process.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr std::size_t versionByte = 8;

// A message as the tool prints it: one line.
std::string line(const char* message) {
    return std::string(message) + newline;
}

Bytes repaired(Bytes bytes) {
    bytes.at(versionByte) = 0x03;
    return bytes;
}

// A repairable header followed by every byte value, line ends and end-of-file
// marks included, so that any translation or stray write shows.
Bytes repairableFile(std::size_t size) {
    Bytes bytes = repairableHeader();
    for (std::size_t i = bytes.size(); i < size; ++i) {
        bytes.push_back(static_cast<unsigned char>((i * 7U + i / 256U) & 0xFFU));
    }
    return bytes;
}

class RepairRun : public ::testing::Test {
protected:
    RunResult run(const RunOptions& options = {}) {
        return runTool(scratch.work(), scratch.root(), options);
    }

    void writeContentFile(const Bytes& bytes) { writeBytes(scratch.contentFile(), bytes); }
    Bytes contentFile() const { return readBytes(scratch.contentFile()); }

    // The run left nothing in the working directory but these names.
    void expectWorkEntries(const std::vector<std::string>& names) const {
        EXPECT_EQ(scratch.workEntries(), names);
    }

    ScratchDir scratch;
};

void expectNotAValidInput(const RunResult& result) {
    ASSERT_FALSE(result.timedOut) << "the tool hung";
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, line("Not a valid input"));
    EXPECT_EQ(result.standardError, "");
}

void expectRepairAttempted(const RunResult& result) {
    ASSERT_FALSE(result.timedOut) << "the tool hung";
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, line("Attempting to repair"));
    EXPECT_EQ(result.standardError, "");
}

// Exit status 1 and one line on stderr, which begins with `failure`.
void expectFailure(const RunResult& result, const std::string& failure) {
    ASSERT_FALSE(result.timedOut) << "the tool hung";
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError.substr(0, failure.size()), failure)
        << "stderr: " << result.standardError;
    EXPECT_EQ(result.standardError.find('\n'), result.standardError.size() - 1)
        << "one line on stderr: " << result.standardError;
}

// Every header case, end to end: the message, the exit status, and the file's
// bytes and length afterwards (only the version byte may change, 2 to 3).
class HeaderCaseRun : public RepairRun, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderCaseRun, RepairsExactlyTheRepairableHeaders) {
    const HeaderCase& headerCase = GetParam();
    writeContentFile(headerCase.bytes);

    const RunResult result = run();

    if (headerCase.repairable) {
        expectRepairAttempted(result);
        EXPECT_EQ(contentFile(), repaired(headerCase.bytes));
    } else {
        expectNotAValidInput(result);
        EXPECT_EQ(contentFile(), headerCase.bytes);
    }
    expectWorkEntries({"Content.vrax"});
}

INSTANTIATE_TEST_SUITE_P(HeaderCases, HeaderCaseRun, ::testing::ValuesIn(headerCases()),
                         HeaderCaseName());

TEST_F(RepairRun, MissingFileIsNotValidAndNothingIsCreated) {
    expectNotAValidInput(run());
    expectWorkEntries({});
}

TEST_F(RepairRun, LargeFileChangesOnlyTheVersionByte) {
    const Bytes original = repairableFile(3 * 1024 * 1024 + 17);
    writeContentFile(original);

    expectRepairAttempted(run());

    EXPECT_EQ(contentFile(), repaired(original));
}

// A hard link sees the new byte only if the tool patched the file itself
// rather than writing a new one in its place.
TEST_F(RepairRun, PatchesTheFileInPlace) {
    writeContentFile(repairableFile(4096));
    const fs::path otherName = scratch.root() / "other-name.vrax";
    fs::create_hard_link(scratch.contentFile(), otherName);

    expectRepairAttempted(run());

    EXPECT_EQ(readBytes(otherName), repaired(repairableFile(4096)));
}

// Nothing but the header is read or written, however large the file; a
// sparse file shows it without filling the disk.
TEST_F(RepairRun, HugeSparseFileChangesOnlyTheVersionByte) {
    constexpr std::uintmax_t size = std::uintmax_t{5} << 30U;
    const Bytes start = repairableFile(4096);
    writeContentFile(start);
    fs::resize_file(scratch.contentFile(), size);

    expectRepairAttempted(run());

    EXPECT_EQ(fs::file_size(scratch.contentFile()), size);
    EXPECT_EQ(readBytes(scratch.contentFile(), 0, start.size()), repaired(start));
    EXPECT_EQ(readBytes(scratch.contentFile(), size - 4096, 4096), Bytes(4096, 0x00));
}

TEST_F(RepairRun, SecondRunFindsNothingToRepair) {
    writeContentFile(repairableFile(64));

    expectRepairAttempted(run());
    expectNotAValidInput(run());

    EXPECT_EQ(contentFile(), repaired(repairableFile(64)));
}

// Another process may hold the file open for reading and writing meanwhile.
TEST_F(RepairRun, RepairsAFileThatAnotherProcessHoldsOpen) {
    writeContentFile(repairableFile(64));
    std::FILE* heldOpen = std::fopen(scratch.contentFile().string().c_str(), "r+b");
    ASSERT_NE(heldOpen, nullptr);

    const RunResult result = run();
    EXPECT_EQ(std::fclose(heldOpen), 0);

    expectRepairAttempted(result);
    EXPECT_EQ(contentFile(), repaired(repairableFile(64)));
}

// However two runs interleave, the file ends at version 3 with nothing else
// changed, and each run prints one of its two lines.
TEST_F(RepairRun, TwoRunsAtOnceLeaveTheFileRepairedOnce) {
    const Bytes original = repairableFile(4096);
    for (int round = 0; round < 10; ++round) {
        writeContentFile(original);
        ToolRun first(scratch.work(), scratch.root());
        ToolRun second(scratch.work(), scratch.root());
        const RunResult results[] = {first.wait(), second.wait()};

        int attempts = 0;
        for (const RunResult& result : results) {
            ASSERT_FALSE(result.timedOut);
            EXPECT_EQ(result.exitStatus, 0);
            EXPECT_TRUE(result.standardOutput == line("Attempting to repair") ||
                        result.standardOutput == line("Not a valid input"))
                << result.standardOutput;
            EXPECT_EQ(result.standardError, "");
            attempts += result.standardOutput == line("Attempting to repair") ? 1 : 0;
        }
        EXPECT_GE(attempts, 1);
        ASSERT_EQ(contentFile(), repaired(original)) << "round " << round;
    }
}

// The tool takes no lock, so another process's lock never holds it up.
TEST_F(RepairRun, FileLockedByAnotherProcessDoesNotHoldTheRunUp) {
    const Bytes original = repairableFile(64);
    writeContentFile(original);
    RunResult result;
    {
        const LockedFile locked(scratch.contentFile());
        result = run();
    }

#ifdef _WIN32
    // Windows enforces the lock on the header read too (Wine does not).
    if (result.standardOutput == line("Not a valid input")) {
        expectNotAValidInput(result);
        EXPECT_EQ(contentFile(), original);
        return;
    }
#endif
    // Advisory locks do not bind a program that takes none.
    expectRepairAttempted(result);
    EXPECT_EQ(contentFile(), repaired(original));
}

TEST_F(RepairRun, DirectoryInPlaceOfTheFileIsNotValid) {
    fs::create_directory(scratch.contentFile());

    expectNotAValidInput(run());

    EXPECT_TRUE(fs::is_directory(scratch.contentFile()));
    expectWorkEntries({"Content.vrax"});
}

// The rights check: an unprivileged run repairs a file it may write...
TEST_F(RepairRun, UnprivilegedRunRepairsAWritableFile) {
    writeContentFile(repairableFile(64));
    fs::permissions(scratch.contentFile(), fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::group_write |
                                               fs::perms::others_read | fs::perms::others_write);
    RunOptions unprivileged;
    unprivileged.unprivileged = true;

    expectRepairAttempted(run(unprivileged));

    EXPECT_EQ(contentFile(), repaired(repairableFile(64)));
}

// ...and leaves alone one it may only read.
TEST_F(RepairRun, ReadOnlyFileIsNotValidAndUnchanged) {
    writeContentFile(repairableFile(64));
    fs::permissions(scratch.contentFile(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    RunOptions unprivileged;
    unprivileged.unprivileged = true;

    expectNotAValidInput(run(unprivileged));

    EXPECT_EQ(contentFile(), repairableFile(64));
}

// Without the announcement on standard output the file is not touched, and
// a run that could not report fails.
TEST_F(RepairRun, UnwritableOutputFailsTheRunAndLeavesTheFileAlone) {
    RunOptions noOutput;
    noOutput.unwritableStdout = true;

    expectFailure(run(noOutput), "Output failed");
    writeContentFile(repairableFile(64));
    expectFailure(run(noOutput), "Output failed");

    EXPECT_EQ(contentFile(), repairableFile(64));
}

// Whatever the command line holds, the tool works on Content.vrax alone.
class ArgumentsRun : public RepairRun,
                     public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(ArgumentsRun, ChangeNothing) {
    writeContentFile(repairableFile(64));
    writeBytes(scratch.work() / "other.vrax", repairableFile(64));
    RunOptions withArguments;
    withArguments.arguments = GetParam();

    expectRepairAttempted(run(withArguments));
    expectNotAValidInput(run(withArguments));

    EXPECT_EQ(contentFile(), repaired(repairableFile(64)));
    EXPECT_EQ(readBytes(scratch.work() / "other.vrax"), repairableFile(64));
    expectWorkEntries({"Content.vrax", "other.vrax"});
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ArgumentsRun,
    ::testing::Values(std::vector<std::string>{"other.vrax"}, std::vector<std::string>{"--help"},
                      std::vector<std::string>{"-h", "--version", "/?"},
                      std::vector<std::string>{""},
                      std::vector<std::string>{"Content.vrax", "other.vrax", "-", "--", "x y"}));

#ifndef _WIN32

// On Windows the same case runs under Wine, from failed_write_under_wine.py.
TEST_F(RepairRun, FailedWriteIsReportedAndExitsWithOne) {
    writeContentFile(repairableFile(64));
    RunOptions refusing;
    refusing.refuseWrites = true;

    const RunResult result = run(refusing);

    expectFailure(result, "Repair failed");
    EXPECT_EQ(result.standardOutput, line("Attempting to repair"));
    EXPECT_EQ(contentFile(), repairableFile(64));
}

// A FIFO would block a stream's read forever; it and a link to it are no content file.
TEST_F(RepairRun, FifoInPlaceOfTheFileIsNotValidAndDoesNotHang) {
    ASSERT_EQ(::mkfifo(scratch.contentFile().c_str(), 0666), 0);

    expectNotAValidInput(run());

    EXPECT_TRUE(fs::is_fifo(scratch.contentFile()));
}

TEST_F(RepairRun, LinkToAFifoIsNotValidAndDoesNotHang) {
    const fs::path fifo = scratch.root() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    fs::create_symlink(fifo, scratch.contentFile());

    expectNotAValidInput(run());
}

TEST_F(RepairRun, LinkToARepairableFileRepairsTheTarget) {
    const fs::path target = scratch.root() / "target.vrax";
    writeBytes(target, repairableFile(64));
    fs::create_symlink(target, scratch.contentFile());

    expectRepairAttempted(run());

    EXPECT_TRUE(fs::is_symlink(scratch.contentFile()));
    EXPECT_EQ(readBytes(target), repaired(repairableFile(64)));
}

TEST_F(RepairRun, DanglingLinkIsNotValidAndItsTargetIsNotCreated) {
    const fs::path target = scratch.root() / "missing.vrax";
    fs::create_symlink(target, scratch.contentFile());

    expectNotAValidInput(run());

    EXPECT_FALSE(fs::exists(target));
}

#endif

} // namespace
