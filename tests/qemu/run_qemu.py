#!/usr/bin/env python3
"""Boots Debian's kernel under qemu with the library, its probe and the
kernel's USB gadget, printer and FTDI drivers in a small initramfs, runs the
scenario table of init.sh and checks its result rows.

    run_qemu.py PROBE LIBRARY [SCENARIO ...]

Exit 0 when every scenario passed, 1 when one failed or none reported,
77 (skipped) with the reason when this machine cannot run qemu."""
import glob
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# The drivers the scenarios need; their dependencies come from modules.dep.
MODULES = [("dummy_hcd", "num=2"), ("libcomposite", ""), ("usb_f_printer", ""),
           ("usblp", ""), ("xhci_pci", ""), ("usbserial", ""), ("ftdi_sio", "")]
BOOT_LIMIT_S = 240


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(77)


def kernel_and_modules():
    kernels = sorted(glob.glob("/boot/vmlinuz-*-amd64"))
    if not kernels:
        skip("no Debian kernel in /boot (package linux-image-amd64)")
    kernel = kernels[-1]
    version = os.path.basename(kernel)[len("vmlinuz-"):]
    moddir = "/lib/modules/" + version
    if not os.path.exists(moddir + "/modules.dep"):
        skip("no modules for kernel " + version)
    if not os.access(kernel, os.R_OK):
        skip(kernel + " is not readable")
    return kernel, moddir


def module_order(moddir):
    """Module files to load, each after its dependencies, with arguments."""
    deps = {}
    with open(moddir + "/modules.dep") as f:
        for line in f:
            path, _, rest = line.partition(":")
            deps[path] = rest.split()
    by_name = {os.path.basename(p).split(".ko")[0].replace("-", "_"): p for p in deps}
    order, args = [], {}

    def add(path):
        for dep in deps.get(path, []):
            add(dep)
        if path not in order:
            order.append(path)

    for name, arguments in MODULES:
        if name not in by_name:
            skip("kernel module %s not found" % name)
        args[by_name[name]] = arguments
        add(by_name[name])
    return [(p, args.get(p, "")) for p in order]


def shared_libraries(binary):
    out = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
    libs = []
    for line in out.splitlines():
        parts = line.split()
        for part in parts:
            if part.startswith("/") and os.path.exists(part):
                libs.append(part)
    return libs


def build_initramfs(work, probe, library, moddir):
    root = os.path.join(work, "root")
    for d in ("bin", "lib/modules", "opt/sorlink", "proc", "sys", "dev", "tmp", "etc"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    shutil.copy("/bin/busybox", os.path.join(root, "bin/busybox"))
    shutil.copy(os.path.join(HERE, "init.sh"), os.path.join(root, "init"))
    os.chmod(os.path.join(root, "init"), 0o755)
    shutil.copy(probe, os.path.join(root, "opt/sorlink/qemu_probe"))
    for lib in set(shared_libraries(probe) + shared_libraries(library)):
        if "libSorlink" in lib:
            # Under the name the probe asks for (its soname).
            shutil.copy(library, os.path.join(root, "opt/sorlink", os.path.basename(lib)))
            continue
        target = os.path.join(root, lib.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(lib, target)
    with open(os.path.join(root, "modules.list"), "w") as listing:
        for path, arguments in module_order(moddir):
            name = os.path.basename(path)
            source = os.path.join(moddir, path)
            if name.endswith(".xz"):
                name = name[:-3]
                subprocess.run("xz -dc '%s' > '%s'" % (source, os.path.join(root, "lib/modules", name)),
                               shell=True, check=True)
            else:
                shutil.copy(source, os.path.join(root, "lib/modules", name))
            listing.write("%s %s\n" % (name, arguments))
    with open(os.path.join(root, "etc/passwd"), "w") as f:
        f.write("root:x:0:0::/:/bin/sh\nnobody:x:65534:65534::/:/bin/sh\n")
    image = os.path.join(work, "initrd.cpio")
    subprocess.run("cd '%s' && find . | /bin/busybox cpio -o -H newc > '%s' 2>/dev/null"
                   % (root, image), shell=True, check=True)
    return image


def accelerators():
    """KVM where it may work, then software emulation. A KVM that cannot
    run this machine (nested virtualisation often cannot) shows as a qemu
    that never prints the kernel's banner."""
    found = []
    if os.access("/dev/kvm", os.R_OK | os.W_OK):
        found.append(["-enable-kvm", "-cpu", "host"])
    found.append(["-accel", "tcg"])
    return found


class FtdiFarEnd:
    """The far end of qemu's FTDI adapter: a Unix socket chardev."""

    def __init__(self, path):
        self.path, self.sock, self.received = path, None, b""

    def connect(self):
        for _ in range(100):
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(self.path)
                self.sock.setblocking(False)
                return
            except OSError:
                time.sleep(0.05)
        self.sock = None

    def pump(self):
        while self.sock is not None:
            try:
                chunk = self.sock.recv(65536)
            except BlockingIOError:
                return
            except OSError:
                self.sock = None
                return
            if not chunk:
                self.sock = None
                return
            self.received += chunk


def monitor(path, command):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.connect(path)
        s.sendall((command + "\n").encode())
        time.sleep(0.3)


def main():
    if len(sys.argv) < 3:
        print("usage: run_qemu.py PROBE LIBRARY [SCENARIO ...]")
        return 2
    probe, library = sys.argv[1], sys.argv[2]
    if shutil.which("qemu-system-x86_64") is None:
        skip("qemu-system-x86_64 not installed (package qemu-system-x86)")
    if not os.path.exists("/bin/busybox"):
        skip("no /bin/busybox (package busybox-static)")
    linked = subprocess.run(["ldd", "/bin/busybox"], capture_output=True, text=True)
    if "not a dynamic executable" not in linked.stdout + linked.stderr and \
            "statically linked" not in linked.stdout:
        skip("/bin/busybox is not statically linked (package busybox-static)")
    kernel, moddir = kernel_and_modules()
    work = tempfile.mkdtemp(prefix="sorlink-qemu-")
    try:
        image = build_initramfs(work, probe, library, moddir)
        mon = os.path.join(work, "monitor.sock")
        ftdi = FtdiFarEnd(os.path.join(work, "ftdi.sock"))
        append = "console=ttyS0 panic=-1 loglevel=6 rdinit=/init"
        if len(sys.argv) > 3:
            append += " SCENARIOS=" + ",".join(sys.argv[3:])
        command = ["qemu-system-x86_64"] + [
            "-m", "512", "-smp", "1", "-kernel", kernel, "-initrd", image, "-append", append,
            "-display", "none", "-no-reboot", "-serial", "stdio",
            "-monitor", "unix:%s,server=on,wait=off" % mon,
            "-chardev", "socket,id=ftdi,path=%s,server=on,wait=off" % ftdi.path,
            "-device", "qemu-xhci,id=xhci",
            "-device", "usb-serial,id=ftdi0,chardev=ftdi,bus=xhci.0"]
        for accel in accelerators():
            started = time.monotonic()
            booted, results, console = run(command[:1] + accel + command[1:], mon, ftdi)
            if booted:
                break
        if not booted:
            skip("qemu cannot boot the kernel on this machine")
        elapsed = time.monotonic() - started
        print("qemu ran %.1f s (%s)" % (elapsed, " ".join(accel)))
        if not results:
            print("no scenario reported; console:\n" + "\n".join(console[-40:]))
            return 1
        if "table_finished" not in results:
            results["table_finished"] = ("FAIL", "the guest stopped before the end of the table")
            print("RESULT table_finished FAIL the guest stopped before the end of the table")
        failed = [name for name, (status, _) in results.items() if status != "PASS"]
        print("%d scenarios, %d failed" % (len(results), len(failed)))
        if failed:
            print("console:\n" + "\n".join(console[-60:]))
        return 1 if failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run(command, mon, ftdi):
    """One boot: (whether the kernel started, result rows, console lines)."""
    started = time.monotonic()
    qemu = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    ftdi.connect()
    results, pending, console, booted = {}, b"", [], False
    while time.monotonic() - started < BOOT_LIMIT_S:
        if not booted and time.monotonic() - started > 60:
            break
        ready, _, _ = select.select([qemu.stdout], [], [], 0.1)
        ftdi.pump()
        if not ready:
            if qemu.poll() is not None:
                break
            continue
        chunk = os.read(qemu.stdout.fileno(), 65536)
        if not chunk:
            break
        pending += chunk
        while b"\n" in pending:
            raw, pending = pending.split(b"\n", 1)
            line = raw.decode("latin-1").rstrip("\r")
            console.append(line)
            if "Linux version" in line or line.startswith("RESULT "):
                booted = True
            if line.startswith("RESULT "):
                parts = line.split(" ", 3)
                results[parts[1]] = (parts[2], parts[3] if len(parts) > 3 else "")
                print(line, flush=True)
            elif line.startswith("@@END"):
                results["table_finished"] = ("PASS", "")
            elif line.startswith("@@HOST "):
                row = act(line[7:], mon, ftdi)
                if row is not None:
                    results[row[0]] = row[1:]
    if qemu.poll() is None:
        qemu.kill()
    qemu.wait()
    if not booted:
        print("qemu did not boot with %s: %s" % (command[1], " / ".join(console[-3:])))
    return booted, results, console


def act(request, mon, ftdi):
    """A scenario's request to the host: a monitor command, bytes to send to
    the FTDI adapter, or a check of the bytes it has received."""
    verb, _, rest = request.partition(" ")
    if verb == "monitor":
        monitor(mon, rest)
    elif verb == "ftdi-send" and ftdi.sock is not None:
        ftdi.sock.sendall(bytes.fromhex(rest))
    elif verb == "ftdi-expect":
        name, _, text = rest.partition(" ")
        deadline = time.monotonic() + 5
        while text.encode() not in ftdi.received and time.monotonic() < deadline:
            time.sleep(0.05)
            ftdi.pump()
        status = "PASS" if text.encode() in ftdi.received else "FAIL"
        seen = "far end got %r" % ftdi.received[-80:]
        print("RESULT %s %s %s" % (name, status, seen), flush=True)
        ftdi.received = b""
        return name, status, seen
    return None


if __name__ == "__main__":
    sys.exit(main())
