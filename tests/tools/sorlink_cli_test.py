"""sorlink as a user runs it: a subprocess against the virtual printer, with
its output and exit status. Tests that need a transport skip themselves
until that transport is part of the library."""

import os
import shutil
import termios
import socket
import subprocess
import tempfile
import time
import unittest

from toolsupport import (RUN_TIMEOUT, VirtualPrinter, main, program, run_sorlink,
                         skip_without_transport)

SUBCOMMANDS = ["ports", "printers", "usb", "send", "read", "chat", "codes", "test-page", "doctor"]


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


class UsageTest(unittest.TestCase):
    def test_every_subcommand_has_help(self):
        for name in SUBCOMMANDS:
            result = run_sorlink(name, "--help")
            self.assertEqual(result.returncode, 0, name)
            self.assertTrue(result.stdout.startswith(b"usage: sorlink " + name.encode()), name)
        result = run_sorlink("--help")
        self.assertEqual(result.returncode, 0)
        for name in SUBCOMMANDS:
            self.assertIn(name.encode(), result.stdout)

    def test_the_habits_of_command_line_tools(self):
        for name in SUBCOMMANDS:
            own = run_sorlink(name, "--help")
            self.assertIn(b"example", own.stdout, name)
            self.assertIn(b"sorlink " + name.encode(), own.stdout.split(b"example", 1)[1], name)
            self.assertEqual(run_sorlink("help", name).stdout, own.stdout, name)
        version = run_sorlink("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout.decode(), r"^sorlink \d+\.\d+\.\d+\n$")
        typo = run_sorlink("prnters")
        self.assertEqual(typo.returncode, 2)
        self.assertIn(b"did you mean 'sorlink printers'?", typo.stderr)
        self.assertNotIn(b"subcommands:", typo.stderr)
        self.assertEqual(run_sorlink("help", "nothing-like-it").returncode, 2)

    def test_bash_completes_subcommands_options_and_installed_printers(self):
        script = os.path.join(os.environ.get("SORLINK_SOURCE", "."), "packaging",
                              "sorlink.bash-completion")
        with tempfile.TemporaryDirectory() as folder:
            registry = os.path.join(folder, "registry.reg")
            with open(registry, "w") as reg:
                print_key = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print"
                reg.write("REGEDIT4\n\n[%s\\Printers\\Kitchen]\n\"Port\"=\"IP_K\"\n\n"
                          "[%s\\Monitors\\Standard TCP/IP Port\\Ports\\IP_K]\n"
                          "\"IpAddress\"=\"127.0.0.1\"\n\"PortNumber\"=dword:0000238c\n"
                          % (print_key, print_key))
            env = dict(os.environ, SORLINK_REGISTRY=registry,
                       PATH=os.path.dirname(program("sorlink")) + os.pathsep + os.environ["PATH"])
            # (words typed, what the completion offers)
            for words, offered in ((["sorlink", "pr"], "printers"),
                                   (["sorlink", "send", "--fl"], "--flow"),
                                   (["sorlink", "help", "test-"], "test-page"),
                                   (["sorlink", "send", "--printer", "K"], "Kitchen")):
                line = 'source "%s"; COMP_WORDS=(%s); COMP_CWORD=%d; _sorlink; echo "${COMPREPLY[@]}"' \
                    % (script, " ".join("'%s'" % word for word in words), len(words) - 1)
                result = subprocess.run(["bash", "-c", line], capture_output=True, env=env,
                                        timeout=RUN_TIMEOUT)
                self.assertEqual(result.stdout.decode().split(), [offered], words)

    def test_wrong_usage_exits_two_with_a_message(self):
        cases = [
            [],
            ["print"],
            ["send", "--tcp", "127.0.0.1", "--bogus"],
            ["send", "--text", "x"],
            ["send", "--tcp", "127.0.0.1", "--serial", "COM1", "--text", "x"],
            ["send", "--tcp", "127.0.0.1", "--hex", "1b4"],
            ["send", "--tcp", "127.0.0.1", "--text", "a\\q"],
            ["send", "--tcp", "127.0.0.1", "--text", "x", "--hex", "00"],
            ["send", "--serial", "COM1", "--params", "8X1", "--text", "x"],
            ["send", "--serial", "COM1", "--flow", "rts", "--text", "x"],
            ["read", "--tcp", "127.0.0.1", "--timeout", "soon"],
            ["read", "--tcp", "127.0.0.1", "extra"],
            ["send", "--tcp", "127.0.0.1", "--log-level", "verbose", "--text", "x"],
            ["codes", "many"],
        ]
        for args in cases:
            result = run_sorlink(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"sorlink", result.stderr, args)

    def test_codes_explains_one_code_or_lists_them_all(self):
        result = run_sorlink("codes", "215")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout,
                         b"result 215 (Ethernet: the TCP connection was not made: refused, unreachable, "
                         b"or not within the connection time-out)\n")
        self.assertEqual(run_sorlink("codes", "7").returncode, 1)
        table = run_sorlink("codes").stdout.decode()
        self.assertIn("4096  serial: the printer's port was not readable from the registry", table)

    def test_log_options_reach_the_library(self):
        with tempfile.TemporaryDirectory() as folder:
            traced = os.path.join(folder, "traced.log")
            run_sorlink("ports", "--log", traced, "--log-level", "trace")
            with open(traced) as log:
                self.assertIn("CreateCommunicationPort-  START", log.read())
            errors_only = os.path.join(folder, "errors.log")
            run_sorlink("ports", "--log", errors_only, "--log-level", "error")
            with open(errors_only) as log:
                self.assertNotIn("START", log.read())
            silent = os.path.join(folder, "silent.log")
            run_sorlink("ports", "--log", silent, "--log-mode", "none")
            self.assertFalse(os.path.exists(silent))


class ScratchFolderTest(unittest.TestCase):
    """A scratch folder with the printer's record and a registry file of its own."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.record = os.path.join(self.folder.name, "received.bin")
        self.registry = os.path.join(self.folder.name, "registry.reg")
        self.env = dict(os.environ, SORLINK_REGISTRY=self.registry)

    def tearDown(self):
        self.folder.cleanup()


class TcpTest(ScratchFolderTest):
    def test_send_delivers_a_file_byte_for_byte_and_reports_throughput(self):
        payload = os.urandom(200 * 1024)
        path = os.path.join(self.folder.name, "payload.bin")
        with open(path, "wb") as out:
            out.write(payload)
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            target = "127.0.0.1:%d" % vp.links["tcp"]
            result = run_sorlink("send", "--tcp", target, path)
            skip_without_transport(self, result)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertRegex(result.stdout.decode(),
                             r"^sent 204800 bytes in \d+\.\d{3} s \([\d.]+ [KMG]?i?B/s\)\n$")
            self.assertEqual(run_sorlink("send", "--tcp", target, "--writef", path).returncode, 0)
            self.assertEqual(run_sorlink("send", "--tcp", target, "-", stdin=b"\x00tail").returncode,
                             0)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), payload + payload + b"\x00tail")

    def test_a_file_send_draws_a_progress_bar_on_a_terminal_only(self):
        path = os.path.join(self.folder.name, "payload.bin")
        with open(path, "wb") as out:
            out.write(b"x" * 300000)
        with VirtualPrinter("--tcp", "0") as vp:
            target = "127.0.0.1:%d" % vp.links["tcp"]
            master, terminal = os.openpty()
            try:
                process = subprocess.run([program("sorlink"), "send", "--tcp", target, path],
                                         stdout=subprocess.PIPE, stderr=terminal,
                                         timeout=RUN_TIMEOUT)
                os.close(terminal)
                terminal = -1
                drawn = b""
                while True:
                    try:
                        piece = os.read(master, 4096)
                    except OSError:  # the terminal's other side is closed
                        break
                    if not piece:
                        break
                    drawn += piece
            finally:
                os.close(master)
                if terminal >= 0:
                    os.close(terminal)
            if b"result -1 (not a code of the library)" in drawn:
                self.skipTest("this transport is not built into the library yet")
            self.assertEqual(process.returncode, 0, drawn)
            self.assertIn(b"] 100% 293.0 KiB of 293.0 KiB", drawn)
            self.assertTrue(process.stdout.startswith(b"sent 300000 bytes in "))
            # Not a terminal: no bar, only the final line.
            piped = run_sorlink("send", "--tcp", target, path)
            self.assertEqual(piped.stderr, b"")

    def test_chat_shows_the_answer_as_hex_or_text(self):
        with VirtualPrinter("--tcp", "0", "--reply", "10 04 01=16 41") as vp:
            target = "127.0.0.1:%d" % vp.links["tcp"]
            result = run_sorlink("chat", "--tcp", target, "--hex", "10 04 01")
            skip_without_transport(self, result)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout.decode(), "00000000  16 41 " + " " * 43 + " |.A|\n")
            self.assertIn(b"sent 3 bytes in ", result.stderr)
            result = run_sorlink("chat", "--tcp", target, "--hex", "10 04 01", "--show", "text",
                                 "--count", "2")
            self.assertEqual(result.stdout, b"\\x16A\n")

    def test_read_gives_up_after_its_time_out_with_status_three(self):
        with VirtualPrinter("--tcp", "0") as vp:
            started = time.monotonic()
            result = run_sorlink("read", "--tcp", "127.0.0.1:%d" % vp.links["tcp"], "--timeout",
                                 "300")
            skip_without_transport(self, result)
            self.assertEqual(result.returncode, 3, result.stderr)
            self.assertIn(b"no data: nothing arrived within 300 ms", result.stderr)
            self.assertLess(time.monotonic() - started, 5)

    def test_a_printer_that_hangs_up_ends_the_read(self):
        with VirtualPrinter("--tcp", "0", "--close-on", "01") as vp:
            result = run_sorlink("chat", "--tcp", "127.0.0.1:%d" % vp.links["tcp"], "--hex", "01",
                                 "--timeout", "3000")
            skip_without_transport(self, result)
            self.assertEqual(result.returncode, 3, result.stderr)
            self.assertIn(b"the printer closed the connection", result.stderr)

    def test_a_failure_prints_the_result_code_with_its_meaning(self):
        result = run_sorlink("send", "--tcp", "300.1.2.3", "--text", "x")
        skip_without_transport(self, result)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(
            result.stderr,
            b"sorlink: InitEthTCP failed: result 205 (Ethernet: the address text is not accepted)\n")

    def test_data_level_logs_every_byte_sent(self):
        log = os.path.join(self.folder.name, "data.log")
        with VirtualPrinter("--tcp", "0") as vp:
            result = run_sorlink("send", "--tcp", "127.0.0.1:%d" % vp.links["tcp"], "--text", "AB",
                                 "--log", log, "--log-level", "all")
            skip_without_transport(self, result)
        with open(log) as text:
            lines = text.read()
        self.assertIn("SendBuffer[0x00]=0x41 \n", lines)
        self.assertIn("SendBuffer[0x01]=0x42 \n", lines)

    def test_udp_chat_gets_the_answer_on_the_local_port(self):
        local = free_udp_port()
        with VirtualPrinter("--udp", "0", "--answer-port", str(local), "--reply", "05=06") as vp:
            result = run_sorlink("chat", "--udp", "127.0.0.1:%d" % vp.links["udp"], "--local",
                                 str(local), "--hex", "05", "--count", "1")
            skip_without_transport(self, result)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(result.stdout.startswith(b"00000000  06 "))


class TruthTest(ScratchFolderTest):
    """What the tool reports is what happened on the wire."""

    def test_only_what_was_read_is_reported_as_sent(self):
        cases = [
            # (what to send, a word of the message)
            (self.folder.name, b"is not a regular file"),
            ("/proc/self/mem", b"failed: Input/output error"),
            (os.path.join(self.folder.name, "absent.bin"), b"No such file or directory"),
        ]
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            target = "127.0.0.1:%d" % vp.links["tcp"]
            for path, message in cases:
                result = run_sorlink("send", "--tcp", target, path)
                self.assertEqual(result.returncode, 1, path)
                self.assertIn(message, result.stderr, path)
                self.assertNotIn(b"sent 0 bytes", result.stdout, path)
        self.assertEqual(os.path.getsize(self.record) if os.path.exists(self.record) else 0, 0)

    def test_a_failure_names_the_system_reason_beside_the_result(self):
        with socket.socket() as unused:
            unused.bind(("127.0.0.1", 0))
            closed_port = unused.getsockname()[1]
        result = run_sorlink("send", "--tcp", "127.0.0.1:%d" % closed_port, "--text", "x")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"Open failed: result 215 (", result.stderr)
        self.assertIn(b"): connection refused (10061)\n", result.stderr)
        self.assertNotIn(b"sorlink doctor", result.stderr)
        # A set-up cause points to the doctor.
        result = run_sorlink("send", "--serial", "/dev/sorlink-absent", "--text", "x", env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"result 256 (serial: port not found)", result.stderr)
        self.assertIn(b"'sorlink doctor'", result.stderr)

    def test_a_device_the_user_may_not_open_says_permission_denied(self):
        setpriv = shutil.which("setpriv")
        if os.geteuid() != 0 or setpriv is None:
            self.skipTest("needs root and setpriv to run as another user")
        os.chmod(self.folder.name, 0o755)
        with VirtualPrinter("--pty", "--registry", self.registry, "--com", "COM9"):
            os.chmod(self.registry, 0o644)
            # The pseudo-terminal is root's, mode 0600: nobody may not open it.
            result = subprocess.run(
                [setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                 program("sorlink"), "send", "--serial", "COM9", "--text", "x"],
                capture_output=True, env=self.env, timeout=RUN_TIMEOUT)
        self.assertEqual(result.returncode, 1)
        self.assertRegex(result.stderr, rb"Open failed: result \d+ \([^\n]*\): permission denied \(5\)\n")
        self.assertIn(b"'sorlink doctor'", result.stderr)

    def test_test_page_prints_the_shipped_sample_receipt(self):
        with open(os.path.join(os.environ.get("SORLINK_SOURCE", "."), "tools", "samples",
                               "receipt.txt"), "rb") as sample:
            receipt = sample.read()
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            result = run_sorlink("test-page", "--tcp", "127.0.0.1:%d" % vp.links["tcp"])
            self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.received_bytes(), receipt + b"\n\n\n")

    def received_bytes(self):
        with open(self.record, "rb") as recorded:
            return recorded.read()

    def test_tcp_takes_a_host_name_resolved_to_ipv4(self):
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            result = run_sorlink("send", "--tcp", "localhost:%d" % vp.links["tcp"], "--text", "by name")
            self.assertEqual(result.returncode, 0, result.stderr)
            result = run_sorlink("send", "--tcp", "no-such-host.invalid", "--text", "x")
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"--tcp: no-such-host.invalid has no IPv4 address", result.stderr)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"by name")


class InstalledPrinterTest(ScratchFolderTest):
    """Printers installed in the registry file are listed and reached by name."""

    def install(self, text):
        with open(self.registry, "a") as reg:
            reg.write(text)

    def test_a_tcp_printer_is_listed_and_printed_to_by_name(self):
        # No registry file: every list is empty, which is no failure.
        result = run_sorlink("printers", env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            self.install("REGEDIT4\n\n"
                         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\"
                         "Printers\\Kitchen]\n\"Port\"=\"IP_127.0.0.1\"\n\n"
                         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\"
                         "Monitors\\Standard TCP/IP Port\\Ports\\IP_127.0.0.1]\n"
                         "\"IpAddress\"=\"127.0.0.1\"\n\"PortNumber\"=dword:%08x\n" % vp.links["tcp"])
            result = run_sorlink("printers", "--tcp", env=self.env)
            skip_without_transport(self, result)
            self.assertEqual(result.stdout, b"Kitchen  127.0.0.1:%d\n" % vp.links["tcp"])
            result = run_sorlink("send", "--printer", "Kitchen", "--text", "order 12\\n",
                                 env=self.env)
            self.assertEqual(result.returncode, 0, result.stderr)
            result = run_sorlink("send", "--printer", "Bar", "--text", "x", env=self.env)
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"no installed printer is named \"Bar\"", result.stderr)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"order 12\n")

    def test_a_serial_printer_is_listed_and_printed_to_by_name(self):
        with VirtualPrinter("--pty", "--registry", self.registry, "--com", "COM9", "--record",
                            self.record):
            self.install("\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\"
                         "Printers\\Receipt]\n\"Port\"=\"COM9:\"\n")
            result = run_sorlink("printers", "--serial", env=self.env)
            skip_without_transport(self, result)
            self.assertEqual(result.stdout, b"Receipt  COM9\n")
            result = run_sorlink("send", "--printer", "Receipt", "--hex", "1b 40", env=self.env)
            self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"\x1b\x40")


class UsbTest(unittest.TestCase):
    def test_usb_lists_the_printer_and_chat_talks_to_it(self):
        with tempfile.TemporaryDirectory() as folder:
            record = os.path.join(folder, "received.bin")
            env = dict(os.environ, SORLINK_SYSFS_ROOT=folder + "/sys",
                       SORLINK_DEV_ROOT=folder + "/dev",
                       SORLINK_REGISTRY=os.path.join(folder, "none.reg"))
            with VirtualPrinter("--usb", "0f3c:0101:A1B2 C3", "--usb-root", folder, "--reply",
                                "1b 76=14", "--record", record):
                result = run_sorlink("usb", env=env)
                skip_without_transport(self, result)
                self.assertEqual(result.stdout, b"0f3c:0101:A1B2_C3\n")
                result = run_sorlink("chat", "--usb", "0f3c:0101:A1B2 C3", "--text", "hi\\x1bv",
                                     "--count", "1", env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(result.stdout.startswith(b"00000000  14 "), result.stdout)
                result = run_sorlink("send", "--usb", "0f3c:0101:XYZ", "--text", "x", env=env)
                self.assertEqual(result.returncode, 1)
                self.assertIn(b"Open failed: result 316 (USB: no present device for the serial "
                              b"number)", result.stderr)
            with open(record, "rb") as recorded:
                self.assertEqual(recorded.read(), b"hi\x1bv")


class SerialTest(ScratchFolderTest):
    def printer(self, *args):
        return VirtualPrinter("--pty", "--registry", self.registry, "--com", "COM9", "--record",
                              self.record, *args)

    def test_ports_lists_the_pseudo_terminal_and_chat_talks_to_it(self):
        with self.printer("--reply", "1b 76=14") as vp:
            result = run_sorlink("ports", env=self.env)
            skip_without_transport(self, result)
            self.assertIn(b"COM9\n", result.stdout)
            result = run_sorlink("chat", "--serial", "COM9", "--baud", "19200", "--params", "7E1",
                                 "--text", "receipt\\n\\x1bv", "--count", "1", env=self.env)
            skip_without_transport(self, result)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(result.stdout.startswith(b"00000000  14 "), result.stdout)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"receipt\n\x1bv")

    def test_params_set_the_line_as_written(self):
        # Read back from the pty, which keeps the line as the library left it
        # while the printer holds the other end. A pty forces CS8 and clears
        # PARENB (pty_set_termios), so byte size and parity on/off come from
        # the library's log; odd or even and the stop bits from the line.
        cases = (("8N1", "None", 0), ("7E1", "Even", 0), ("8O2", "Odd", termios.PARODD),
                 ("7E2", "Even", 0), ("8O1", "Odd", termios.PARODD))
        log = os.path.join(self.folder.name, "params.log")
        with self.printer() as vp:
            for params, parity, odd in cases:
                result = run_sorlink("send", "--serial", "COM9", "--params", params, "--text",
                                     params, "--log", log, "--log-level", "info", env=self.env)
                skip_without_transport(self, result)
                self.assertEqual(result.returncode, 0, result.stderr)
                line = os.open(vp.links["pty"], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
                try:
                    cflag = termios.tcgetattr(line)[2]
                finally:
                    os.close(line)
                stop = termios.CSTOPB if params[2] == "2" else 0
                self.assertEqual(cflag & (termios.PARODD | termios.CSTOPB), odd | stop, params)
                with open(log) as text:
                    written = text.read()
                os.unlink(log)
                self.assertIn("Parity setted to %s " % parity, written, params)
                self.assertIn("Byte Size setted to %s " % params[0], written, params)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"".join(c[0].encode() for c in cases))

    def test_wrong_line_settings_are_named(self):
        with self.printer():
            result = run_sorlink("send", "--serial", "COM9", "--baud", "300", "--params", "6N1",
                                 "--text", "x", env=self.env)
            skip_without_transport(self, result)
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"InitSerialPort failed: result 5 (serial: wrong line settings: "
                          b"baud rate, byte size)", result.stderr)
            result = run_sorlink("send", "--serial", "COM8", "--text", "x", env=self.env)
            self.assertIn(b"result 256 (serial: port not found)", result.stderr)


if __name__ == "__main__":
    main()
