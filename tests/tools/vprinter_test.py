"""The virtual printer as the demo and the tool tests use it: a real
process, real loopback sockets and a real pseudo-terminal."""

import os
import socket
import subprocess
import tempfile
import termios
import time
import tty
import unittest

from toolsupport import VirtualPrinter, main, program


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=5)


def receive_exactly(sock, count):
    data = b""
    while len(data) < count:
        piece = sock.recv(count - len(data))
        if not piece:
            break
        data += piece
    return data


class VirtualPrinterTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.record = os.path.join(self.folder.name, "received.bin")

    def tearDown(self):
        self.folder.cleanup()

    def test_records_tcp_bytes_and_answers_a_request_split_across_sends(self):
        with VirtualPrinter("--tcp", "0", "--record", self.record, "--reply", "10 04 01=16") as vp:
            with connect(vp.links["tcp"]) as sock:
                sock.sendall(b"hello\x10\x04")
                time.sleep(0.05)
                sock.sendall(b"\x01world")
                self.assertEqual(receive_exactly(sock, 1), b"\x16")
            with connect(vp.links["tcp"]) as sock:
                sock.sendall(b"!")
                time.sleep(0.05)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"hello\x10\x04\x01world!")

    def test_serves_one_connection_at_a_time_so_records_never_interleave(self):
        # The printer answers 05 once it has read and recorded everything
        # before it: each step waits for that answer, never for a set time.
        with VirtualPrinter("--tcp", "0", "--reply", "05=06", "--record", self.record) as vp:
            with connect(vp.links["tcp"]) as first, connect(vp.links["tcp"]) as second:
                first.sendall(b"first \x05")
                self.assertEqual(receive_exactly(first, 1), b"\x06")
                second.sendall(b"second\x05")
                # Two answers on the first connection later, a printer
                # serving both at once would have answered the second.
                for piece in (b"job \x05", b"\x05"):
                    first.sendall(piece)
                    self.assertEqual(receive_exactly(first, 1), b"\x06")
                second.setblocking(False)
                with self.assertRaises(BlockingIOError):
                    second.recv(1)
                second.settimeout(5)
                first.close()
                self.assertEqual(receive_exactly(second, 1), b"\x06")
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"first \x05job \x05\x05second\x05")

    def test_closes_or_resets_a_connection_on_request(self):
        with VirtualPrinter("--tcp", "0", "--close-on", "ff", "--reset-on", "fe") as vp:
            with connect(vp.links["tcp"]) as sock:
                sock.sendall(b"a\xff")
                self.assertEqual(sock.recv(16), b"")
            with connect(vp.links["tcp"]) as sock:
                sock.sendall(b"b\xfe")
                with self.assertRaises(ConnectionResetError):
                    while sock.recv(16):
                        pass

    def test_closes_a_connection_after_a_byte_count(self):
        with VirtualPrinter("--tcp", "0", "--close-after", "4", "--record", self.record) as vp:
            with connect(vp.links["tcp"]) as sock:
                sock.sendall(b"ab")
                time.sleep(0.05)
                sock.sendall(b"cd")
                self.assertEqual(sock.recv(16), b"")

    def test_answers_a_udp_request_to_its_sender(self):
        with VirtualPrinter("--udp", "0", "--reply", "01=0203", "--record", self.record) as vp:
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
                sock.settimeout(5)
                sock.sendto(b"\x00\x01", ("127.0.0.1", vp.links["udp"]))
                self.assertEqual(sock.recvfrom(16)[0], b"\x02\x03")
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"\x00\x01")

    def test_plays_a_serial_printer_on_a_pseudo_terminal(self):
        registry = os.path.join(self.folder.name, "registry.reg")
        with VirtualPrinter("--pty", "--registry", registry, "--com", "COM7", "--reply", "05=06",
                            "--record", self.record) as vp:
            with open(registry) as reg:
                self.assertEqual(
                    reg.read(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Hardware\\Devicemap\\Serialcomm]\n"
                    '"%s"="COM7"\n' % vp.links["pty"])
            fd = os.open(vp.links["pty"], os.O_RDWR | os.O_NOCTTY)
            try:
                tty.setraw(fd, termios.TCSANOW)
                os.write(fd, b"ab\x05")
                deadline = time.monotonic() + 5
                answer = b""
                while not answer and time.monotonic() < deadline:
                    answer = os.read(fd, 16)
                self.assertEqual(answer, b"\x06")
            finally:
                os.close(fd)
        with open(self.record, "rb") as recorded:
            self.assertEqual(recorded.read(), b"ab\x05")

    def test_describes_a_usb_printer_whose_node_is_a_terminal(self):
        with VirtualPrinter("--usb", "0f3c:0101:SN 1", "--usb-root", self.folder.name,
                            "--reply", "05=06", "--record", self.record):
            sysfs = os.path.join(self.folder.name, "sys")
            device = os.path.realpath(os.path.join(sysfs, "class/usbmisc/lp0/device/.."))
            for name, value in (("idVendor", "0f3c"), ("idProduct", "0101"), ("serial", "SN 1")):
                with open(os.path.join(device, name)) as attribute:
                    self.assertEqual(attribute.read(), value + "\n")
            fd = os.open(os.path.join(self.folder.name, "dev/usb/lp0"), os.O_RDWR | os.O_NOCTTY)
            try:
                os.write(fd, b"\x05")
                self.assertEqual(os.read(fd, 16), b"\x06")
            finally:
                os.close(fd)

    def test_stops_by_itself_after_its_time_limit(self):
        started = time.monotonic()
        with VirtualPrinter("--tcp", "0", time_limit=1) as vp:
            self.assertEqual(vp.process.wait(timeout=5), 0)
        self.assertLess(time.monotonic() - started, 4)

    def test_refuses_bad_options(self):
        for args in (["--tcp", "0", "--reply", "zz=01"], [], ["--registry", "x.reg", "--tcp", "0"],
                     ["--tcp", "70000"], ["--usb", "0f3c:0101:S"], ["--usb", "f3c:101:S",
                                                                    "--usb-root", "/tmp"]):
            result = subprocess.run([program("sorlink_vprinter")] + args, capture_output=True,
                                    timeout=5)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"sorlink_vprinter:", result.stderr)


if __name__ == "__main__":
    main()
