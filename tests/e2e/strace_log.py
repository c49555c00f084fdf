"""A run of the tool under strace, for the cases that count or find the
system calls it makes before they inject a fault into one of them."""

import os
import subprocess


def traced_run(command, cwd, environment, calls, options=(), timeout=300):
    """Runs `command` in `cwd` with `calls` (comma-separated) traced across
    its processes; returns the finished run and the trace's lines."""
    log = cwd + ".strace"
    try:
        ran = subprocess.run(["strace", "-f", *options, "-o", log, "-e", "trace=" + calls] + command, cwd=cwd,
                             env=environment, input=b"", capture_output=True, timeout=timeout)
        with open(log) as f:
            return ran, f.read().splitlines()
    finally:
        if os.path.exists(log):
            os.remove(log)
