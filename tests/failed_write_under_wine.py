#!/usr/bin/env python3
"""The Windows executable's failed write, provoked for real under Wine.

Windows offers no unprivileged switch that makes an in-place write fail, and
Wine does not enforce byte-range locks against writes; but under Wine the tool
is a Linux process, so the emulator runs it with a file size limit of zero.
Usage: failed_write_under_wine.py EMULATOR TOOL
"""
import os
import subprocess
import sys
import tempfile

REPAIRABLE = bytes([0x1C, 0x00, 0x00, 0x00, 0x56, 0x52, 0x41, 0x58, 0x02]) + b"\r\n\x1a rest"


def main() -> int:
    emulator, tool = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="content-repair-test-") as work:
        os.chmod(work, 0o755)
        content = os.path.join(work, "Content.vrax")
        with open(content, "wb") as file:
            file.write(REPAIRABLE)
        os.chmod(content, 0o666)  # writable by the unprivileged user Wine runs as

        run = subprocess.run(
            [emulator, tool],
            cwd=work,
            stdin=subprocess.PIPE,
            capture_output=True,
            timeout=60,
            env=dict(os.environ, WINE_RUN_REFUSE_WRITES="1"),
        )
        with open(content, "rb") as file:
            after = file.read()

    failures = []
    if run.returncode != 1:
        failures.append(f"exit status {run.returncode}, expected 1")
    if run.stdout != b"Attempting to repair\r\n":
        failures.append(f"stdout {run.stdout!r}")
    if not run.stderr.startswith(b"Repair failed") or run.stderr.count(b"\n") != 1:
        failures.append(f"stderr {run.stderr!r}, expected one line starting 'Repair failed'")
    if after != REPAIRABLE:
        failures.append(f"file changed to {after!r}")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
