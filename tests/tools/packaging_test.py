"""What reaches a till: the installed copy, the Debian package and the
Windows zip, each checked the way an integrator uses it."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

from toolsupport import RUN_TIMEOUT, SOURCE, VirtualPrinter, main

BUILD = os.environ.get("SORLINK_BUILD", "")
LIBDIR = os.environ.get("SORLINK_INSTALL_LIBDIR", "lib")
RECEIPT = os.path.join(SOURCE, "tools", "samples", "receipt.txt")
with open(os.path.join(SOURCE, "comlayer", "port", "exports.txt")) as names:
    EXPORTS = sorted(names.read().split())
# Packaging a build and checking the result takes longer than a tool run.
PACKAGE_TIMEOUT = 120


def run(*command, env=None, cwd=None):
    result = subprocess.run(command, capture_output=True, text=True, env=env, cwd=cwd,
                            timeout=PACKAGE_TIMEOUT)
    if result.returncode != 0:
        raise AssertionError("%s failed:\n%s%s" % (" ".join(command), result.stdout,
                                                   result.stderr))
    return result.stdout


class ScratchTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.scratch)


class InstallTest(ScratchTest):
    def test_the_examples_build_and_run_against_the_installed_copy(self):
        root = os.path.join(self.scratch, "root")
        run("cmake", "--install", BUILD, "--prefix", "/usr/local",
            env=dict(os.environ, DESTDIR=root))
        prefix = root + "/usr/local"
        libdir = os.path.join(prefix, LIBDIR)
        example = os.path.join(prefix, "share/doc/sorlink/examples/c")

        # pkg-config, reading the staged tree as the system root.
        pc_env = dict(os.environ, PKG_CONFIG_LIBDIR=os.path.join(libdir, "pkgconfig"),
                      PKG_CONFIG_SYSROOT_DIR=root)
        flags = run("pkg-config", "--cflags", "--libs", "sorlink", env=pc_env).split()
        self.assertIn("-I%s/include" % prefix, flags)
        by_pkg_config = os.path.join(self.scratch, "print_receipt_pc")
        run("cc", "-o", by_pkg_config, os.path.join(example, "print_receipt.c"), *flags)

        # find_package, with the example's own CMakeLists.txt.
        binary = os.path.join(self.scratch, "example-build")
        run("cmake", "-S", example, "-B", binary, "-G", "Ninja", "-DCMAKE_PREFIX_PATH=" + prefix)
        run("cmake", "--build", binary)
        by_find_package = os.path.join(binary, "print_receipt")

        # The installed tool runs as installed: its run path leads to the
        # library beside it, without LD_LIBRARY_PATH.
        tool = os.path.join(prefix, "bin", "sorlink")
        self.assertIn("=> %s/bin/../%s/libSorlink64.so.1" % (prefix, LIBDIR), run("ldd", tool))
        self.assertRegex(run(tool, "--version"), r"^sorlink \d+\.\d+\.\d+\n$")
        for shipped in ("share/bash-completion/completions/sorlink", "share/sorlink/receipt.txt"):
            self.assertTrue(os.path.isfile(os.path.join(prefix, shipped)), shipped)

        env = dict(os.environ, LD_LIBRARY_PATH=libdir)
        programs = [[by_pkg_config], [by_find_package]]
        for program in programs:
            self.assertIn(libdir + "/libSorlink64.so.1", run("ldd", program[0], env=env))

        # The Java example against the installed jar; the bridge finds the
        # layer beside itself.
        java, javac = os.environ.get("SORLINK_JAVA"), os.environ.get("SORLINK_JAVAC")
        if java and javac:
            jar = os.path.join(prefix, "share/java/sorlink.jar")
            classes = os.path.join(self.scratch, "classes")
            run(javac, "-cp", jar, "-d", classes,
                os.path.join(example, "..", "java", "PrintReceipt.java"))
            programs.append([java, "-Djava.library.path=" + libdir,
                             "-cp", jar + os.pathsep + classes, "PrintReceipt"])
        for program in programs:
            with VirtualPrinter("--tcp", "0", "--reply", "10 04 01=16") as vp:
                output = run(*program, "127.0.0.1", str(vp.links["tcp"]), RECEIPT,
                             env=dict(env, HOME=self.scratch))
            self.assertEqual(output, "printed %s; printer status 0x16\n" % RECEIPT)


class DebianPackageTest(ScratchTest):
    def test_the_package_holds_everything_runs_unpacked_and_passes_lintian(self):
        run("cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
            "-B", self.scratch)
        packages = [name for name in os.listdir(self.scratch) if name.endswith(".deb")]
        self.assertEqual(len(packages), 1, packages)
        package = os.path.join(self.scratch, packages[0])

        listing = run("dpkg-deb", "-c", package)
        paths = {line.split()[5] for line in listing.splitlines()}
        lib = "./usr/" + LIBDIR
        expected = {lib + "/libSorlink64.so.1.1.0", lib + "/libSorlink64.so.1",
                    lib + "/libSorlink64.so", lib + "/libSorjni.so", lib + "/pkgconfig/sorlink.pc",
                    lib + "/cmake/Sorlink/SorlinkConfig.cmake", "./usr/include/sorlink.h",
                    "./usr/bin/sorlink", "./usr/bin/sorlink_vprinter",
                    "./usr/lib/udev/rules.d/60-sorlink.rules", "./etc/sorlink/registry.reg",
                    "./usr/share/doc/sorlink/copyright", "./usr/share/doc/sorlink/changelog.gz",
                    "./usr/share/doc/sorlink/examples/c/print_receipt.c",
                    "./usr/share/java/sorlink.jar", "./usr/share/man/man1/sorlink.1.gz",
                    "./usr/share/bash-completion/completions/sorlink",
                    "./usr/share/sorlink/receipt.txt"}
        self.assertEqual(expected - paths, set())
        outside = [path for path in paths
                   if path != "./" and not path.startswith(("./usr/", "./etc/"))]
        self.assertEqual(outside, [])
        self.assertIn("libSorlink64.so -> libSorlink64.so.1", listing)

        control = run("dpkg-deb", "-f", package)
        depends = re.search(r"^Depends: (.*)$", control, re.M).group(1)
        self.assertEqual({item.split()[0] for item in depends.split(", ")},
                         {"libc6", "libgcc-s1", "libstdc++6"})
        self.assertIn("dialout", control)
        self.assertIn(" lp ", control)
        self.assertEqual(run("dpkg-deb", "-I", package, "shlibs"),
                         "libSorlink64 1 sorlink (>= 1.1.0)\n")
        self.assertEqual(run("dpkg-deb", "-I", package, "triggers"), "activate-noawait ldconfig\n")

        root = os.path.join(self.scratch, "root")
        run("dpkg-deb", "-x", package, root)
        env = dict(os.environ, LD_LIBRARY_PATH=root + "/usr/" + LIBDIR)
        self.assertIn(root + "/usr/" + LIBDIR + "/libSorlink64.so.1",
                      run("ldd", root + "/usr/bin/sorlink", env=env))
        self.assertIn("usage: sorlink", run(root + "/usr/bin/sorlink", "--help", env=env))
        # Under /usr the system's search finds the library: no run path.
        self.assertNotRegex(run("readelf", "-d", root + "/usr/bin/sorlink"), r"R(UN)?PATH")

        if shutil.which("lintian") is None:
            self.skipTest("lintian is not installed (sh scripts/setup.sh installs it)")
        result = subprocess.run(["lintian", "--fail-on", "error,warning", package],
                                capture_output=True, text=True, timeout=PACKAGE_TIMEOUT)
        print(result.stdout, file=sys.stderr)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


class WindowsZipTest(ScratchTest):
    ARCHITECTURES = {"x64": ("x86_64-w64-mingw32", "Sorlink64"),
                     "x86": ("i686-w64-mingw32", "Sorlink")}

    def imported_names(self, objdump, program, dll):
        """The names the program imports from the DLL, from its import table."""
        table = run(objdump, "-p", program)
        block = table.split("DLL Name: %s\n" % dll, 1)[1].split("\n\n", 1)[0]
        return sorted(line.split()[-1] for line in block.splitlines()[1:] if line.strip())

    def test_the_zip_holds_the_deliverables_and_its_import_libraries_name_every_export(self):
        win64 = os.environ["SORLINK_WIN64_BUILD"]
        if not os.path.exists(os.path.join(win64, "CMakeCache.txt")):
            self.skipTest("no Windows build in %s (cmake --preset win64 && cmake --build "
                          "--preset win64, the same with win32)" % win64)
        run("cpack", "-G", "ZIP", "--config", os.path.join(win64, "CPackConfig.cmake"),
            "-B", self.scratch)
        archives = [name for name in os.listdir(self.scratch) if name.endswith(".zip")]
        self.assertEqual(len(archives), 1, archives)
        with zipfile.ZipFile(os.path.join(self.scratch, archives[0])) as archive:
            names = {name.split("/", 1)[1] for name in archive.namelist() if not name.endswith("/")}
            archive.extractall(self.scratch)
        top = os.path.join(self.scratch, archives[0][:-4])
        # A 32-bit bridge is there when the 32-bit build makes one.
        self.assertEqual(names - {"x86/Sorjni.dll"}, {
            "README.txt", "include/sorlink.h", "docs/api.md", "docs/vb6.md", "docs/bad-inputs.md",
            "docs/tools.md", "x64/Sorlink64.dll", "x64/Sorlink64.lib", "x64/Sorjni.dll",
            "x64/sorlink.exe", "x86/Sorlink.dll", "x86/Sorlink.lib", "x86/sorlink.exe"})

        # A program calling all 92 entry points through the header links
        # against the import library alone and imports each by its own name.
        caller = os.path.join(self.scratch, "caller.c")
        with open(caller, "w") as source:
            source.write('#include "sorlink.h"\nvoid* const entries[] = {\n%s};\n'
                         'int main(void) { return entries[0] == 0; }\n'
                         % "".join("    (void*)&%s,\n" % name for name in EXPORTS))
        for folder, (triplet, dll) in self.ARCHITECTURES.items():
            program = os.path.join(self.scratch, "caller-%s.exe" % folder)
            run(triplet + "-gcc", "-I", os.path.join(top, "include"), "-o", program, caller,
                os.path.join(top, folder, dll + ".lib"))
            self.assertEqual(self.imported_names(triplet + "-objdump", program, dll + ".dll"),
                             EXPORTS)
            exports = run(triplet + "-objdump", "-p", os.path.join(top, folder, dll + ".dll"))
            for name in EXPORTS:
                self.assertRegex(exports, r"\] %s\n" % name)


if __name__ == "__main__":
    main()
