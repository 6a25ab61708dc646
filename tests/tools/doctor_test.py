"""sorlink doctor against a made-up machine: a registry file, a sysfs tree
and device nodes with real owners and modes. The checks run for another
account (--user nobody), so that they mean the same when the suite runs as
root, whom every permission check lets through."""

import grp
import json
import os
import pwd
import socket
import struct
import tempfile
import unittest

from toolsupport import VirtualPrinter, main, run_sorlink

PRINTERS_KEY = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print"


class Machine:
    """The registry file, /sys and /dev of a machine under one folder."""

    def __init__(self, folder):
        os.chmod(folder, 0o755)
        self.root = folder
        self.sys = os.path.join(folder, "sys")
        self.dev = os.path.join(folder, "dev")
        self.registry = os.path.join(folder, "registry.reg")
        self.registry_lines = ["REGEDIT4", ""]
        for path in (self.sys + "/bus/usb/devices", self.sys + "/class/usbmisc",
                     self.sys + "/bus/usb/drivers/usblp", self.sys + "/bus/usb/drivers/usbfs"):
            os.makedirs(path)

    def env(self, **extra):
        self.write_registry()
        env = dict(os.environ, SORLINK_REGISTRY=self.registry, SORLINK_SYSFS_ROOT=self.sys,
                   SORLINK_DEV_ROOT=self.dev, XDG_STATE_HOME=os.path.join(self.root, "state"))
        env.update(extra)
        return env

    def write_registry(self):
        with open(self.registry, "w") as reg:
            reg.write("\n".join(self.registry_lines) + "\n")

    def node(self, path, group, mode):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "w").close()
        os.chown(path, 0, grp.getgrnam(group).gr_gid)
        os.chmod(path, mode)
        return path

    def serial_port(self, com, group, mode):
        device = self.node(os.path.join(self.dev, "tty" + com), group, mode)
        self.registry_lines += ["[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]",
                                '"%s"="%s"' % (device, com), ""]
        return device

    def usb_device(self, name, product, serial, driver=None, lp=None):
        """A device of vendor 0f3c laid out as the kernel does: its folder under
        devices/, a link in bus/usb/devices, a printer interface bound to
        driver, and for usblp the usbmisc class entry lp."""
        device = os.path.join(self.sys, "devices/pci0000:00/usb1", name)
        interface = os.path.join(device, name + ":1.0")
        os.makedirs(interface)
        number = int(name.split("-")[1])
        for attribute, value in (("idVendor", "0f3c"), ("idProduct", product),
                                 ("serial", serial), ("busnum", "1"), ("devnum", str(number))):
            with open(os.path.join(device, attribute), "w") as out:
                out.write(value + "\n")
        for attribute, value in (("bInterfaceClass", "07"), ("bInterfaceNumber", "00")):
            with open(os.path.join(interface, attribute), "w") as out:
                out.write(value + "\n")
        os.symlink(device, os.path.join(self.sys, "bus/usb/devices", name))
        if driver:
            os.symlink(os.path.join(self.sys, "bus/usb/drivers", driver),
                       os.path.join(interface, "driver"))
        if lp:
            os.makedirs(os.path.join(interface, "usbmisc", lp))
            os.symlink(interface, os.path.join(interface, "usbmisc", lp, "device"))
            os.symlink(os.path.join(interface, "usbmisc", lp),
                       os.path.join(self.sys, "class/usbmisc", lp))
        return "%s/bus/usb/001/%03d" % (self.dev, number)


def doctor(env, *args):
    result = run_sorlink("doctor", "--json", *args, env=env)
    report = json.loads(result.stdout)
    return result.returncode, report["findings"]


class DoctorTest(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("the device nodes need owners: run as root")
        self.folder = tempfile.TemporaryDirectory()
        self.machine = Machine(self.folder.name)

    def tearDown(self):
        self.folder.cleanup()

    def assertFinding(self, findings, area, status, *words):
        """A finding of the area and status whose message and fix hold all the words."""
        for finding in findings:
            text = finding["message"] + " Fix: " + finding["fix"]
            if finding["area"] == area and finding["status"] == status and \
                    all(word in text for word in words):
                return
        self.fail("no %s %s finding with %s in %s" % (status, area, words,
                                                      json.dumps(findings, indent=1)))

    def test_a_ready_machine_passes_with_a_bound_printer(self):
        m = self.machine
        m.serial_port("COM9", "dialout", 0o660)
        usbfs = m.usb_device("1-1", "0101", "A1B2C3", driver="usblp", lp="lp0")
        m.node(m.dev + "/usb/lp0", "lp", 0o660)
        m.node(usbfs, "lp", 0o664)
        status, findings = doctor(m.env(), "--user", "root")
        self.assertEqual(status, 0, findings)
        self.assertFinding(findings, "registry", "ok", m.registry, "no line skipped")
        self.assertFinding(findings, "serial", "ok", "COM9", "root may open it")
        # The library's own list holds the printer: its node opened.
        self.assertFinding(findings, "usb", "ok", "0f3c:0101 serial A1B2C3 (lp0)", "usblp is bound")
        self.assertFinding(findings, "printers", "ok", "no printer is installed")
        self.assertFinding(findings, "user", "note", "--user NAME")

    def test_each_problem_gets_its_fix(self):
        m = self.machine
        m.registry_lines += ["this line is not .reg text", "[HKEY_NOWHERE\\Key]", ""]
        m.serial_port("COM9", "dialout", 0o660)
        allowed_by_acl = m.serial_port("COM8", "root", 0o600)
        usbfs = m.usb_device("1-1", "0101", "A1B2C3", driver="usblp", lp="lp0")
        m.node(m.dev + "/usb/lp0", "lp", 0o660)
        m.node(usbfs, "root", 0o664)
        m.usb_device("1-2", "0102", "UNBOUND")
        m.usb_device("1-3", "0103", "TAKEN", driver="usbfs")
        m.usb_device("1-4", "0104", "NONODE", driver="usblp", lp="lp3")
        # The kernel's posix_acl_xattr layout: (tag, permissions, id) entries.
        # A named entry grants only what the mask leaves of it.
        nobody = pwd.getpwnam("nobody")
        masked_user = m.serial_port("COM7", "root", 0o600)
        masked_group = m.serial_port("COM6", "root", 0o600)
        acls = {
            # user::rw-, user:nobody:rw-, group::---, mask::rw-, other::---
            allowed_by_acl: ((1, 6, -1), (2, 6, nobody.pw_uid), (4, 0, -1), (0x10, 6, -1),
                             (0x20, 0, -1)),
            # the same with mask::r--
            masked_user: ((1, 6, -1), (2, 6, nobody.pw_uid), (4, 0, -1), (0x10, 4, -1),
                          (0x20, 0, -1)),
            # user::rw-, group::---, group:<nobody's group>:rw-, mask::r--, other::---
            masked_group: ((1, 6, -1), (4, 0, -1), (8, 6, nobody.pw_gid), (0x10, 4, -1),
                           (0x20, 0, -1)),
        }
        try:
            for node, entries in acls.items():
                acl = struct.pack("<I", 2) + b"".join(
                    struct.pack("<HHI", tag, perm, uid & 0xFFFFFFFF) for tag, perm, uid in entries)
                os.setxattr(node, "system.posix_acl_access", acl)
        except OSError:
            allowed_by_acl = None

        status, findings = doctor(m.env(), "--user", "nobody")
        self.assertEqual(status, 1)
        self.assertFinding(findings, "registry", "problem", "2 lines", "could not be read",
                           "(line 3, 4)")
        self.assertFinding(findings, "serial", "problem", "COM9", "group dialout, mode 0660",
                           "sudo usermod -a -G dialout nobody")
        if allowed_by_acl:
            self.assertFinding(findings, "serial", "ok", "COM8", "nobody may open it")
            self.assertFinding(findings, "serial", "problem", "COM7")
            self.assertFinding(findings, "serial", "problem", "COM6")
        self.assertFinding(findings, "usb", "problem", "0101", "may not write",
                           "sudo usermod -a -G lp nobody")
        self.assertFinding(findings, "usb", "note", "0101", "usbfs", "60-sorlink.rules")
        self.assertFinding(findings, "usb", "problem", "0102", "usblp driver is not bound",
                           "modprobe usblp")
        self.assertFinding(findings, "usb", "problem", "0103", "held by the usbfs driver")
        self.assertFinding(findings, "usb", "problem", "0104 serial NONODE (lp3)", "missing")

    def test_the_usual_mistakes_of_installed_printers_are_named(self):
        m = self.machine
        printers = PRINTERS_KEY + "\\Printers\\"
        ports = PRINTERS_KEY + "\\Monitors\\Standard TCP/IP Port\\Ports\\"
        # (registry lines, area, words of the finding)
        scenarios = [
            (["[%sTill]" % printers, '"Port"="COM5:"'],
             "serial", ("Till prints to COM5", "mapped to no device", "Serialcomm")),
            (["[%sKitchen]" % printers, '"Port"="IP_10.0.0.9"',
              "[%sMonitors\\Standard TCP/IP Ports\\IP_10.0.0.9]" % (PRINTERS_KEY + "\\"),
              '"IpAddress"="10.0.0.9"'],
             "printers", ("Kitchen", "no Standard TCP/IP port", "spelled exactly")),
            (["[%sLabel]" % printers, '"Port"="USB001"', "[%sLabel\\PnPData]" % printers,
              '"DeviceInstanceId"="USBPRINT\\\\MODEL\\\\7&DEAD&0&USB001"'],
             "usb", ("Label", "no present USB device belongs to it", "sorlink usb")),
            (["[%sTag]" % printers, '"Port"="USB002"', "[%sTag\\PnPData]" % printers,
              '"DeviceInstanceId"="USBPRINT\\MODEL\\7&BEEF&0&USB002"'],
             "usb", ("Tag", "has no backslash", "written twice")),
            (["[%sBar]" % printers, '"Port"="IP_Bar"', "[%sIP_Bar]" % ports,
              '"IpAddress"="127.0.0.1"', '"PortNumber"=dword:9100'],
             "tcp", ("Bar", "dword:9100 is hexadecimal, TCP port 37120", "dword:0000238c")),
        ]
        for lines, _, _ in scenarios:
            m.registry_lines += lines + [""]
        status, findings = doctor(m.env(), "--user", "root")
        self.assertEqual(status, 1)
        for _, area, words in scenarios:
            self.assertFinding(findings, area, "problem", *words)

    def test_a_default_log_that_is_no_regular_file_is_a_problem(self):
        log = os.path.join(self.machine.root, "state", "sorlink", "Sorlink.log")
        os.makedirs(os.path.dirname(log))
        for make, words in ((lambda: os.symlink("elsewhere", log), ("symbolic link", "sudo rm")),
                            (lambda: os.mkfifo(log), ("FIFO", "sudo rm")),
                            (lambda: os.mkdir(log), ("folder", "sudo mv"))):
            make()
            status, findings = doctor(self.machine.env())
            self.assertFinding(findings, "log", "problem", log, *words)
            if os.path.islink(log) or not os.path.isdir(log):
                os.unlink(log)

    def test_a_missing_registry_file_is_named(self):
        env = self.machine.env(SORLINK_REGISTRY=os.path.join(self.folder.name, "absent.reg"))
        status, findings = doctor(env, "--user", "root")
        self.assertEqual(status, 1)
        self.assertFinding(findings, "registry", "problem", "absent.reg", "not a file",
                           "unset SORLINK_REGISTRY")

    def test_connect_tries_each_installed_tcp_printer(self):
        with socket.socket() as unused:
            unused.bind(("127.0.0.1", 0))
            closed_port = unused.getsockname()[1]
        with VirtualPrinter("--tcp", "0") as vp:
            for name, port in (("Kitchen", vp.links["tcp"]), ("Bar", closed_port)):
                self.machine.registry_lines += [
                    "[%s\\Printers\\%s]" % (PRINTERS_KEY, name), '"Port"="IP_%s"' % name, "",
                    "[%s\\Monitors\\Standard TCP/IP Port\\Ports\\IP_%s]" % (PRINTERS_KEY, name),
                    '"IpAddress"="127.0.0.1"', '"PortNumber"=dword:%08x' % port, ""]
            status, findings = doctor(self.machine.env(), "--user", "root", "--connect")
        self.assertEqual(status, 1)
        self.assertFinding(findings, "tcp", "ok", "Kitchen at 127.0.0.1:%d" % vp.links["tcp"],
                           "accepts a connection")
        self.assertFinding(findings, "tcp", "problem", "Bar at 127.0.0.1:%d" % closed_port,
                           "result 215")


if __name__ == "__main__":
    main()
