"""CUPS queues as installed printers, against a real scheduler: each test
starts cupsd with a configuration, socket and spool of its own, adds queues
with lpadmin, and prints by queue name to the virtual printer through
sorlink, which calls the library's Init...Printer, Open and Write."""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from toolsupport import BIN, RUN_TIMEOUT, VirtualPrinter, main, run_sorlink

PRINTERS_KEY = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print"


class Scheduler:
    """cupsd in the foreground on a socket in folder, with backends that do
    nothing: the scheduler only needs them to accept the device URIs."""

    def __init__(self, folder):
        self.folder = folder
        self.socket = os.path.join(folder, "cups.sock")
        self.process = None

    def start(self):
        """None when running, else why it cannot run."""
        cupsd, lpadmin = shutil.which("cupsd", path="/usr/sbin:/sbin:" + os.environ["PATH"]), \
            shutil.which("lpadmin", path="/usr/sbin:/sbin:" + os.environ["PATH"])
        if cupsd is None or lpadmin is None:
            return "cupsd or lpadmin is not installed (packages cups-daemon, cups-client)"
        self.lpadmin = lpadmin
        os.chmod(self.folder, 0o755)
        backends = os.path.join(self.folder, "bin", "backend")
        os.makedirs(backends)
        for scheme in ("socket", "usb", "serial", "ipp"):
            path = os.path.join(backends, scheme)
            with open(path, "w") as script:
                script.write("#!/bin/sh\nexit 0\n")
            os.chmod(path, 0o755)
        for name in ("spool", "cache", "state", "log"):
            os.makedirs(os.path.join(self.folder, name))
        user = "lp" if os.getuid() == 0 else str(os.getuid())
        self._write("cupsd.conf", "Listen %s\nLogLevel warn\nBrowsing No\nWebInterface No\n"
                    "<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                    "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n"
                    % self.socket)
        self._write("cups-files.conf", "".join("%s %s\n" % pair for pair in [
            ("ServerRoot", self.folder), ("ServerBin", os.path.join(self.folder, "bin")),
            ("DataDir", "/usr/share/cups"), ("RequestRoot", self._in("spool")),
            ("TempDir", self._in("spool")), ("CacheDir", self._in("cache")),
            ("StateDir", self._in("state")), ("AccessLog", self._in("log/access_log")),
            ("ErrorLog", self._in("log/error_log")), ("PageLog", self._in("log/page_log")),
            ("SystemGroup", "root"), ("User", user), ("Group", user)]))
        self.process = subprocess.Popen(
            [cupsd, "-f", "-c", self._in("cupsd.conf"), "-s", self._in("cups-files.conf")],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # Ready when its socket answers; bounded in time and in tries.
        deadline = time.monotonic() + 10
        for _ in range(1000):
            if self.process.poll() is not None or time.monotonic() > deadline:
                break
            if os.path.exists(self.socket) and self.lpstat().returncode == 0:
                return None
            time.sleep(0.01)
        error = ""
        if self.process.poll() is not None:
            error = self.process.stderr.read().decode(errors="replace").strip()
        self.stop()
        return "cupsd did not start: " + (error or "no answer within 10 s")

    def lpstat(self):
        return subprocess.run(["lpstat", "-r"], env=self.env(), capture_output=True,
                              timeout=RUN_TIMEOUT)

    def add(self, queue, uri):
        subprocess.run([self.lpadmin, "-p", queue, "-E", "-v", uri], env=self.env(),
                       check=True, capture_output=True, timeout=RUN_TIMEOUT)

    def env(self, **extra):
        return dict(os.environ, CUPS_SERVER=self.socket, **extra)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        if self.process is not None:
            self.process.stderr.close()
        self.process = None

    def _in(self, name):
        return os.path.join(self.folder, name)

    def _write(self, name, text):
        with open(self._in(name), "w") as out:
            out.write(text)


class CupsQueueTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorlink-cups-")
        self.scheduler = Scheduler(os.path.join(self.folder, "cups"))
        os.makedirs(self.scheduler.folder)
        self.record = os.path.join(self.folder, "received.bin")
        self.registry = os.path.join(self.folder, "registry.reg")
        why = self.scheduler.start()
        if why is not None:
            self.skipTest(why)

    def tearDown(self):
        self.scheduler.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def env(self, **extra):
        return self.scheduler.env(SORLINK_REGISTRY=self.registry, **extra)

    def write_tcp_printer(self, name, port):
        """The registry file with one TCP/IP printer at 127.0.0.1:port."""
        with open(self.registry, "w") as reg:
            reg.write("REGEDIT4\n\n[%s\\Printers\\%s]\n\"Port\"=\"IP_file\"\n\n"
                      "[%s\\Monitors\\Standard TCP/IP Port\\Ports\\IP_file]\n"
                      "\"IpAddress\"=\"127.0.0.1\"\n\"PortNumber\"=dword:%08x\n"
                      % (PRINTERS_KEY, name, PRINTERS_KEY, port))

    def received(self):
        with open(self.record, "rb") as recorded:
            return recorded.read()

    def test_each_kind_of_queue_is_listed_and_printed_to_by_name(self):
        usb_root = os.path.join(self.folder, "usb")
        usb_env = dict(SORLINK_SYSFS_ROOT=usb_root + "/sys", SORLINK_DEV_ROOT=usb_root + "/dev")
        # (peer, queue, its device URI, listing option, listed device, what is sent)
        scenarios = [
            (["--tcp", "0"], "Kitchen", lambda links: "socket://127.0.0.1:%d" % links["tcp"],
             "--tcp", lambda links: "127.0.0.1:%d" % links["tcp"], b"order 12\n"),
            (["--pty"], "Receipt", lambda links: "serial:%s?baud=9600+bits=8" % links["pty"],
             "--serial", lambda links: links["pty"], b"\x1b@receipt"),
            (["--usb", "0f3c:0101:A1B2 C3", "--usb-root", usb_root], "Label",
             lambda links: "usb://Sorvane/TM-P?serial=A1B2%20C3", "--usb",
             lambda links: "0F3C:0101", b"label 7"),
        ]
        for peer, queue, uri, option, device, payload in scenarios:
            with self.subTest(queue=queue):
                if os.path.exists(self.record):
                    os.unlink(self.record)
                with VirtualPrinter(*peer, "--record", self.record) as vp:
                    self.scheduler.add(queue, uri(vp.links))
                    env = self.env(**usb_env)
                    listed = run_sorlink("printers", option, env=env)
                    self.assertEqual(listed.returncode, 0, listed.stderr)
                    self.assertIn(("%s  %s\n" % (queue, device(vp.links))).encode(),
                                  listed.stdout)
                    sent = run_sorlink("send", "--printer", queue, "-", stdin=payload, env=env)
                    self.assertEqual(sent.returncode, 0, sent.stderr)
                    self.assertIn(b"sent %d bytes" % len(payload), sent.stdout)
                self.assertEqual(self.received(), payload)

    def test_the_registry_file_wins_a_name_clash_and_other_queues_are_left_out(self):
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            self.write_tcp_printer("Kitchen", vp.links["tcp"])
            self.scheduler.add("Kitchen", "socket://127.0.0.1:9")
            self.scheduler.add("Office", "ipp://127.0.0.1:631/printers/office")
            self.scheduler.add("Named", "socket://printer.invalid:9100")
            self.scheduler.add("Plain", "socket://127.0.0.2")
            self.scheduler.add("Two|Names", "socket://127.0.0.3")
            listed = run_sorlink("printers", "--tcp", env=self.env())
            self.assertEqual(listed.stdout,
                             b"Kitchen  127.0.0.1:%d\nNamed  (result 205 (Ethernet: the address "
                             b"text is not accepted))\nPlain  127.0.0.2:9100\n" % vp.links["tcp"])
            sent = run_sorlink("send", "--printer", "Kitchen", "--text", "from the file",
                               env=self.env())
            self.assertEqual(sent.returncode, 0, sent.stderr)
            named = run_sorlink("send", "--printer", "Named", "--text", "x", env=self.env())
            self.assertEqual(named.returncode, 1)
            self.assertIn(b"InitEthTCPPrinter failed: result 205", named.stderr)
            # The doctor names the queue the library cannot use, and its fix.
            doctor = run_sorlink("doctor", "--json", "--connect", env=self.env())
            findings = [(f["area"], f["status"], f["message"] + " Fix: " + f["fix"])
                        for f in json.loads(doctor.stdout)["findings"]]
            self.assertIn(("tcp", "ok", "Kitchen at 127.0.0.1:%d accepts a connection."
                           % vp.links["tcp"]), [f[:2] + (f[2].split(" Fix:")[0],) for f in findings])
            self.assertTrue(any(area == "tcp" and status == "problem" and
                                "Named (CUPS queue socket://printer.invalid:9100)" in text and
                                "sudo lpadmin -p Named -v socket://ADDRESS:PORT" in text
                                for area, status, text in findings), findings)
            self.assertTrue(any(area == "cups" and status == "note" and "Office" in text
                                for area, status, text in findings), findings)
            self.assertTrue(any(area == "cups" and status == "problem" and "Two|Names" in text
                                and "rename the queue" in text
                                for area, status, text in findings), findings)
        self.assertEqual(self.received(), b"from the file")

    def test_a_queue_without_its_device_is_not_listed_and_its_fix_is_lpadmin(self):
        self.scheduler.add("Label", "usb://Sorvane/TM-P?serial=GONE")
        env = self.env(SORLINK_SYSFS_ROOT=os.path.join(self.folder, "none"))
        listed = run_sorlink("printers", "--usb", env=env)
        self.assertEqual((listed.returncode, listed.stdout), (0, b"(none)\n"))
        sent = run_sorlink("send", "--printer", "Label", "--text", "x", env=env)
        self.assertEqual(sent.returncode, 1)
        self.assertIn(b"no installed printer is named \"Label\"", sent.stderr)
        # A serial queue's device is mended with lpadmin, not in the registry file.
        self.scheduler.add("Till", "serial:/dev/ttyGONE0")
        doctor = run_sorlink("doctor", "--json", env=env)
        self.assertIn(("serial", "problem", "Till (CUPS queue serial:/dev/ttyGONE0) prints to "
                       "/dev/ttyGONE0, which is mapped to no device.",
                       "connect the device, or give the queue the device it is on: sudo lpadmin "
                       "-p Till -v serial:/dev/ttyS0"),
                      [(f["area"], f["status"], f["message"], f["fix"])
                       for f in json.loads(doctor.stdout)["findings"]])

    def test_a_scheduler_that_stops_answering_holds_nothing_up(self):
        # A stopped cupsd still accepts on its socket and never answers;
        # libcups alone would wait minutes at every registry read.
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            self.write_tcp_printer("Bar", vp.links["tcp"])
            self.scheduler.add("Kitchen", "socket://127.0.0.1:9")
            self.scheduler.process.send_signal(signal.SIGSTOP)
            try:
                ports = run_sorlink("ports", env=self.env())
                self.assertEqual(ports.returncode, 0, ports.stderr)
                listed = run_sorlink("printers", "--tcp", env=self.env())
                self.assertEqual(listed.stdout, b"Bar  127.0.0.1:%d\n" % vp.links["tcp"])
                sent = run_sorlink("send", "--printer", "Bar", "--text", "still here",
                                   env=self.env())
                self.assertEqual(sent.returncode, 0, sent.stderr)
                doctor = run_sorlink("doctor", "--json", env=self.env())
                self.assertTrue(any(f["area"] == "cups" and f["status"] == "problem" and
                                    "did not answer" in f["message"]
                                    for f in json.loads(doctor.stdout)["findings"]), doctor.stdout)
            finally:
                self.scheduler.process.send_signal(signal.SIGCONT)
        self.assertEqual(self.received(), b"still here")

    def test_an_application_with_an_allocator_of_its_own_lists_the_queues(self):
        allocator = os.path.join(BIN, "bump_allocator.so")
        if not os.path.exists(allocator):
            self.skipTest("bump_allocator.so is not built in " + BIN)
        with VirtualPrinter("--tcp", "0", "--record", self.record) as vp:
            self.scheduler.add("Kitchen", "socket://127.0.0.1:%d" % vp.links["tcp"])
            env = self.env(LD_PRELOAD=allocator)
            listed = run_sorlink("printers", "--tcp", env=env)
            self.assertEqual((listed.returncode, listed.stdout, listed.stderr),
                             (0, b"Kitchen  127.0.0.1:%d\n" % vp.links["tcp"], b""))
            sent = run_sorlink("send", "--printer", "Kitchen", "--text", "pooled", env=env)
            self.assertEqual(sent.returncode, 0, sent.stderr)
        self.assertEqual(self.received(), b"pooled")

if __name__ == "__main__":
    main()
