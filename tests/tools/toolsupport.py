"""Helpers for the tests that run the tools as a user would: the programs'
folder, a virtual printer started and stopped around a test, and the exit
status CTest reads as a skipped test."""

import os
import subprocess
import sys
import time
import unittest

BIN = os.environ.get("SORLINK_BIN", os.path.join(os.getcwd(), "bin"))
SOURCE = os.environ.get(
    "SORLINK_SOURCE", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
SKIPPED = 77

# Every run of a program is bounded; a hang fails the test instead of CTest's
# own time-out killing the whole file.
RUN_TIMEOUT = 20


def program(name):
    return os.path.join(BIN, name)


def run_sorlink(*args, stdin=None, env=None):
    return subprocess.run([program("sorlink")] + list(args), input=stdin, capture_output=True,
                          timeout=RUN_TIMEOUT, env=env)


class VirtualPrinter:
    """sorlink_vprinter in the background; the links it announced are in
    .links ({"tcp": port, "udp": port, "pty": path})."""

    def __init__(self, *args, time_limit=20):
        self.args = [program("sorlink_vprinter")] + list(args) + ["--time-limit", str(time_limit)]
        self.process = None
        self.links = {}

    def __enter__(self):
        self.process = subprocess.Popen(self.args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                break
            words = line.split()
            if words == ["ready"]:
                return self
            if words[0] in ("tcp", "udp"):
                self.links[words[0]] = int(words[2])
            elif len(words) == 2:
                self.links[words[0]] = words[1]
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(timeout=5)
        error = self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()
        raise AssertionError("the virtual printer did not start: " + error)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        try:
            return self.process.wait(timeout=5)
        finally:
            self.process.stdout.close()
            self.process.stderr.close()

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.stop()
        else:
            self.process.stdout.close()
            self.process.stderr.close()
        return False


def skip_without_transport(test, result):
    """The transports land one by one; until then their calls return -1."""
    if b"result -1 (not a code of the library)" in result.stderr:
        test.skipTest("this transport is not built into the library yet")


def main():
    """Runs the named tests; exit 77 (skipped for CTest) when all were skipped."""
    program_args = [arg for arg in sys.argv[1:]]
    suite = unittest.defaultTestLoader.loadTestsFromNames(
        program_args, module=sys.modules["__main__"]) if program_args else \
        unittest.defaultTestLoader.loadTestsFromModule(sys.modules["__main__"])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun > 0 and len(result.skipped) == result.testsRun:
        sys.exit(SKIPPED)
    sys.exit(0)
