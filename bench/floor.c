/* The floor of the job: a minimal static C program that makes only the system
 * calls the repair needs (is the name a regular file, open, one read of nine
 * bytes, the one-byte write at offset 8, close, one write to stdout). It is the
 * yardstick the benchmark measures content-repair against, not a second tool. */
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const unsigned char repairable[9] = {0x1C, 0, 0, 0, 'V', 'R', 'A', 'X', 2};

static int say(const char* line) {
    const size_t length = strlen(line);
    return write(STDOUT_FILENO, line, length) == (ssize_t)length ? 0 : 1;
}

int main(void) {
    struct stat status;
    unsigned char header[9];
    int fd = -1;
    if (stat("Content.vrax", &status) == 0 && S_ISREG(status.st_mode)) {
        fd = open("Content.vrax", O_RDWR);
    }
    if (fd < 0 || read(fd, header, sizeof header) != (ssize_t)sizeof header ||
        memcmp(header, repairable, sizeof header) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return say("Not a valid input\n");
    }
    if (say("Attempting to repair\n") != 0) {
        close(fd);
        return 1;
    }
    const unsigned char version = 3;
    const int written = pwrite(fd, &version, 1, 8) == 1;
    return close(fd) == 0 && written ? 0 : 1;
}
