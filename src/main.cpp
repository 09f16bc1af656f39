// content-repair: raises a content file's version byte from 2 to 3 in place.
#include "content_header.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace {

constexpr const char* contentFileName = "Content.vrax";

struct StreamCloser {
    void operator()(std::FILE* stream) const noexcept { static_cast<void>(std::fclose(stream)); }
};
using FileStream = std::unique_ptr<std::FILE, StreamCloser>;

// Only a regular file (or a link to one) is opened: a FIFO in its place would
// block the header read forever, and a device is no content file to write to.
// The C runtime's stat answers this on Linux and Windows alike, at a fraction
// of the start-up cost that std::filesystem adds to a static executable.
bool isRegularFile(const char* name) {
    struct stat status {};
    return ::stat(name, &status) == 0 && S_ISREG(status.st_mode);
}

FileStream openContentFile() {
    if (!isRegularFile(contentFileName)) {
        return nullptr;
    }
    // Update mode without translation: never creates, never truncates, and
    // asks for no exclusive access.
    FileStream content(std::fopen(contentFileName, "r+b"));
    if (content != nullptr) {
        // Nine bytes are read and one is written: a buffer would only read a
        // block ahead, and read it again when the stream repositions for the
        // write. Should this fail, the buffered stream does the same work.
        static_cast<void>(std::setvbuf(content.get(), nullptr, _IONBF, 0));
    }
    return content;
}

// A failed close may still mean that the byte never reached the file, so its
// result counts.
bool closeStream(FileStream& stream) {
    return stream == nullptr || std::fclose(stream.release()) == 0;
}

bool report(const char* message) {
    return std::fputs(message, stdout) >= 0 && std::fputc('\n', stdout) != EOF &&
           std::fflush(stdout) == 0;
}

void reportFailure(const char* failure, int error) {
    if (error != 0) {
        static_cast<void>(std::fprintf(stderr, "%s: %s\n", failure, std::strerror(error)));
    } else {
        static_cast<void>(std::fprintf(stderr, "%s\n", failure));
    }
}

// Should the stream have kept a buffer, the flush writes the byte here, where
// a failure shows: some C runtimes' fclose (Wine's msvcrt among them) report
// success even when their own flush failed.
bool writeRepairedVersion(std::FILE* stream) {
    return std::fseek(stream, versionOffset, SEEK_SET) == 0 &&
           std::fputc(repairedVersion, stream) != EOF && std::fflush(stream) == 0;
}

} // namespace

int main() {
    FileStream content = openContentFile();
    ContentHeader header{};
    const bool complete = readContentHeader(content.get(), header);

    if (!isRepairable(header, complete)) {
        // Nothing was written, so the file is as it was whatever the close says.
        static_cast<void>(closeStream(content));
        if (!report("Not a valid input")) {
            reportFailure("Output failed", errno);
            return EXIT_FAILURE;
        }
        return EXIT_SUCCESS;
    }

    // The file is touched only once the attempt has been announced.
    if (!report("Attempting to repair")) {
        reportFailure("Output failed", errno);
        static_cast<void>(closeStream(content));
        return EXIT_FAILURE;
    }

    errno = 0;
    const bool written = writeRepairedVersion(content.get());
    const int writeError = errno;
    errno = 0;
    const bool closed = closeStream(content);
    if (!written || !closed) {
        reportFailure("Repair failed", written ? errno : writeError);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
