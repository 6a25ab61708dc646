package bridgetests;

import static bridgetests.BridgeLogFile.OPEN;
import static bridgetests.BridgeLogFile.OPEN_WPARAM;
import static bridgetests.BridgeLogFile.READ;
import static bridgetests.BridgeLogFile.TIMEOUT;
import static bridgetests.BridgeLogFile.WRITE;

import com.sorvane.jpos.services.WinPortComm;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.List;
import java.util.regex.Pattern;

/**
 * The bridge log and the open steps that need no peer: every case runs in one process, in order,
 * with HOME pointing at an empty folder (no Documents folder until the last cases).
 */
public final class BridgeLogTest {
    private static final WinPortComm comm = new WinPortComm();
    private static final BridgeLogFile log = BridgeLogFile.inHome();
    private static final String VERSION = System.getProperty("sorjni.versionText");
    // No serial port of that name exists in the (empty) registry.
    private static final String MISSING_COM = "COM77";

    public static void main(String[] args) {
        Check.run("LoggingOffCreatesNoFolderAndWritesNoFile", () -> {
            Check.equal(-1, comm.openDevice("Parallel", "LPT1", 9600, false, 5), "unknown bus");
            Check.equal(-1, comm.openDevice("RS232", MISSING_COM, 9600, false, 5), "missing port");
            comm.SetDeviceTimeout(1, 1);
            try (var entries = Files.list(BridgeLogFile.home())) {
                Check.equal(0L, entries.count(), "entries in the home folder");
            }
        });

        Check.run("UnknownBusLogsEachStepAtLevelFive", () -> {
            Check.equal(-1, comm.openDevice("Parallel", "LPT1", 9600, true, 5), "result");
            Check.equal(List.of(OPEN + "START", OPEN + "DLL version " + VERSION,
                                OPEN + "Init Com DLL", OPEN + "DeviceBus = Parallel",
                                OPEN + "portName = LPT1",
                                OPEN + "GetDevicePort: PORT  NOT Recognized",
                                OPEN + "ERROR, Port non Recognized", OPEN + "END"),
                    log.newBodies(), "log");
        });

        Check.run("LineStartsWithLocalTimeStampAndEndsWithCrLf", () -> {
            DateTimeFormatter format = DateTimeFormatter.ofPattern("yyyy/MM/dd HH:mm:ss");
            String before = LocalDateTime.now().withNano(0).format(format);
            comm.openDevice("Parallel", "LPT1", 9600, true, 3);
            String after = LocalDateTime.now().format(format);
            Pattern stamped = Pattern.compile("\\[(\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d)\\]Java_.*");
            List<String> lines = log.lines();
            String last = lines.get(lines.size() - 1);
            var match = stamped.matcher(last);
            Check.isTrue(match.matches(), "stamped line: " + last);
            String stamp = match.group(1);
            Check.isTrue(stamp.compareTo(before) >= 0 && stamp.compareTo(after) <= 0,
                    stamp + " within " + before + " .. " + after);
            log.skip();
        });

        Check.run("TimeoutBeforeAnyDeviceIsKnownIsOnlyStored", () -> {
            comm.openDevice("Parallel", "LPT1", 9600, true, 5);
            log.skip();
            comm.SetDeviceTimeout(2, 10);
            Check.equal(List.of(TIMEOUT + "START", TIMEOUT + "Timeout Write = 2(Sec)",
                                TIMEOUT + "Timeout Read = 10(Sec)", OPEN + "COM Port not Init",
                                OPEN + "ERROR Set Timeouts on Com DLL", TIMEOUT + "END"),
                    log.newBodies(), "log");
        });

        Check.run("LevelTwoKeepsStepsAndFailuresOnly", () -> {
            comm.openDevice("Parallel", "LPT1", 9600, true, 2);
            Check.equal(List.of(OPEN + "Init Com DLL", OPEN + "GetDevicePort: PORT  NOT Recognized",
                                OPEN + "ERROR, Port non Recognized"),
                    log.newBodies(), "log");
        });

        Check.run("BusNamesAreRecognisedInAnyCase", () -> {
            Check.equal(-1, comm.openDevice("rS232", MISSING_COM, 9600, true, 5), "serial");
            List<String> serial = log.newBodies();
            Check.isTrue(serial.contains(OPEN + "GetDevicePort: COM PORT Recognized"), "serial: " + serial);
            Check.isTrue(serial.contains(OPEN + "Recognized 0 Port Type"), "serial type");
            Check.isTrue(serial.contains(OPEN + "Create Port on Com DLL"), "port created");
            Check.isTrue(serial.stream().anyMatch(l -> l.matches(
                    Pattern.quote(OPEN) + "Create Port on Com DLL with \\d+ ID")), "port id");
            Check.equal(List.of(OPEN + "ERROR Init Port on Com DLL", OPEN + "END"),
                    serial.subList(serial.size() - 2, serial.size()), "serial end");

            Check.equal(-1, comm.openDevice("usb", "NoSuchPrinter", 0, true, 5), "usb");
            List<String> usb = log.newBodies();
            Check.isTrue(usb.contains(OPEN + "GetDevicePort: USB PORT Recognized"), "usb: " + usb);
            Check.isTrue(usb.contains(OPEN + "Recognized 2 Port Type"), "usb type");
            Check.isTrue(usb.contains(OPEN + "ERROR Init Port on Com DLL"), "usb init");

            Check.equal(-1, comm.openDevice("ETHERNET", "127.0.0.1:x1", 0, true, 5), "ethernet");
            List<String> ethernet = log.newBodies();
            Check.isTrue(ethernet.contains(OPEN + "GetDevicePort: ETH PORT Recognized"), "eth: " + ethernet);
            Check.isTrue(ethernet.contains(OPEN + "ERROR Init Port on Com DLL"), "bad TCP port refused");
        });

        Check.run("LayerLogsBesideTheBridgeLog", () -> {
            Path layerLog = log.folder.resolve("Sorlink.log");
            Check.isTrue(Files.size(layerLog) > 0, "layer log written: " + layerLog);
        });

        Check.run("PortParamsMustHaveThreeCharacters", () -> {
            Check.equal(-1, comm.openDeviceWParam("RS232", MISSING_COM, 9600, "n8", 0, true, 5), "n8");
            List<String> bodies = log.newBodies();
            Check.equal(List.of(OPEN_WPARAM + "Port Params = n8",
                                OPEN_WPARAM + "ERROR string size is not 3", OPEN_WPARAM + "END"),
                    bodies.subList(bodies.size() - 3, bodies.size()), "log");
        });

        Check.run("PortParamsGiveParityBitsStopBitsAndFlow", () -> {
            comm.openDeviceWParam("RS232", MISSING_COM, 9600, "n82", 0, true, 5);
            List<String> none = log.newBodies();
            for (String step : List.of("Parity NONE", "Byte Size 8", "Stop bit 2", "Flow Control NONE")) {
                Check.isTrue(none.contains(OPEN_WPARAM + step), step + " in " + none);
            }
            comm.openDeviceWParam("RS232", MISSING_COM, 9600, "x71", 1, true, 5);
            List<String> even = log.newBodies();
            for (String step : List.of("Parity EVEN", "Byte Size 7", "Stop bit 1", "Flow Control HARDWARE")) {
                Check.isTrue(even.contains(OPEN_WPARAM + step), step + " in " + even);
            }
            comm.openDeviceWParam("RS232", MISSING_COM, 9600, "o81", 2, true, 5);
            List<String> odd = log.newBodies();
            for (String step : List.of("Parity ODD", "Flow Control SOFTWARE")) {
                Check.isTrue(odd.contains(OPEN_WPARAM + step), step + " in " + odd);
            }
        });

        Check.run("NullJavaArgumentsFailTheCall", () -> {
            Check.equal(-1, comm.openDevice(null, "COM1", 9600, true, 5), "null bus");
            Check.equal(-1, comm.openDevice("RS232", null, 9600, true, 5), "null port");
            Check.equal(-1, comm.openDeviceWParam("RS232", MISSING_COM, 9600, null, 0, true, 5),
                    "null params");
            Check.equal(0, comm.writeData(null, 4), "null data");
            log.skip();
        });

        Check.run("OverlongTextsFailWithoutBeingCut", () -> {
            String address = "127.000.000.001.0000";  // one past the 19 characters an address holds
            Check.equal(-1, comm.openDevice("Ethernet", address + ":9100", 0, true, 5), "address");
            List<String> bodies = log.newBodies();
            Check.isTrue(bodies.contains(OPEN + "ERROR Init Port on Com DLL"), "refused: " + bodies);
            Check.isTrue(bodies.stream().noneMatch(l -> l.startsWith("CommunicationDll_Eth_Init")),
                    "no address was handed to the layer");
            // The largest TCP port goes to the layer; one more is refused before it.
            Check.equal(-1, comm.openDevice("Ethernet", "127.0.0.1:65536", 0, true, 5), "port 65536");
            Check.isTrue(log.newBodies().stream().noneMatch(l -> l.startsWith("CommunicationDll_Eth_Init")),
                    "port 65536 not handed to the layer");
            comm.openDevice("Ethernet", "127.0.0.1:65535", 0, true, 5);
            Check.isTrue(log.newBodies().contains("CommunicationDll_Eth_Init: IP PORT = 65535"), "port 65535");

            String huge = "B".repeat(100_000);
            Check.equal(-1, comm.openDevice(huge, huge, 9600, true, 5), "huge texts");
            for (String line : log.newBodies()) {
                Check.isTrue(line.length() <= 1023, "message cut to 1023 characters: " + line.length());
            }
        });

        Check.run("ReadAndWriteWithoutDeviceAreRefused", () -> {
            comm.closeDevice();
            log.skip();
            Check.equal(0, comm.writeData(new byte[] {1, 2, 3}, 0), "a refused write reports 0");
            Check.equal(List.of(WRITE + "START", WRITE + "(B)Buffer Size = 0",
                                WRITE + "(A)Buffer Size = 3", WRITE + "Write Error", WRITE + "END"),
                    log.newBodies(), "write log");
            Check.equal(null, comm.readData(), "read");
            Check.equal(List.of(READ + "START", READ + "Read Error", READ + "END"), log.newBodies(),
                    "read log");
        });

        Check.run("LogFolderMovesToTheDocumentsFolder", () -> {
            Path documents = Files.createDirectory(BridgeLogFile.home().resolve("Documents"));
            Check.equal(-1, comm.openDevice("Parallel", "LPT1", 9600, true, 3), "result");
            BridgeLogFile inDocuments = BridgeLogFile.under(documents);
            Check.equal(List.of(OPEN + "START", OPEN + "DLL version " + VERSION,
                                OPEN + "Init Com DLL", OPEN + "GetDevicePort: PORT  NOT Recognized",
                                OPEN + "ERROR, Port non Recognized", OPEN + "END"),
                    inDocuments.newBodies(), "log in Documents (level 3: no values)");
            Check.equal(List.of(), log.newBodies(), "nothing more in the home folder's log");
        });

        Check.run("LoggingSwitchedOffAtTheNextOpen", () -> {
            BridgeLogFile inDocuments = BridgeLogFile.under(BridgeLogFile.home().resolve("Documents"));
            inDocuments.skip();
            comm.openDevice("Parallel", "LPT1", 9600, false, 5);
            comm.SetDeviceTimeout(1, 1);
            Check.equal(List.of(), inDocuments.newBodies(), "log lines");
        });

        Check.run("LogFolderFollowsTheDesktopsDocumentsFolder", () -> {
            Path home = BridgeLogFile.home();
            Path papers = Files.createDirectory(home.resolve("Papiers"));
            Files.createDirectories(home.resolve(".config"));
            Files.writeString(home.resolve(".config").resolve("user-dirs.dirs"),
                    "# written by the desktop\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
                            + "XDG_DOCUMENTS_DIR=\"$HOME/Papiers\"\n");
            comm.openDevice("Parallel", "LPT1", 9600, true, 3);
            Check.isTrue(Files.exists(BridgeLogFile.under(papers).file), "log in " + papers);
        });

        Check.run("AFifoAtTheLogPathNeitherBlocksNorTakesLines", () -> {
            Path file = BridgeLogFile.under(BridgeLogFile.home().resolve("Papiers")).file;
            Files.delete(file);
            Check.equal(0, new ProcessBuilder("mkfifo", file.toString()).start().waitFor(), "mkfifo");
            Check.equal(-1, comm.openDevice("Parallel", "LPT1", 9600, true, 5), "result");
            Check.isTrue(!Files.isRegularFile(file), "FIFO left in place");
        });

        Check.run("LogFolderAndFilesAreTheUsersAlone", BridgeLogTest::privateLogTable);

        Check.finish();
    }

    private interface Planting {
        /** Prepares the documents folder; returns a file that must stay as it is, or null. */
        Path plant(Path documents, Path log) throws Exception;
    }

    private record PrivacyRow(String name, Planting planting, boolean logged) {}

    private static final Planting FRESH = (documents, log) -> null;

    private static void privateLogTable() throws Exception {
        boolean root = "root".equals(System.getProperty("user.name"));
        List<PrivacyRow> rows = List.of(
                new PrivacyRow("fresh folders", FRESH, true),
                new PrivacyRow("links at both log paths", (documents, log) -> {
                    Path target = Files.writeString(documents.resolve("victim"), "keep\n");
                    Files.createDirectories(log);
                    Files.createSymbolicLink(log.resolve("Sorjni.log"), target);
                    Files.createSymbolicLink(log.resolve("Sorlink.log"), target);
                    return target;
                }, false),
                new PrivacyRow("hard links at both log paths", (documents, log) -> {
                    // Empty, so that a line written through a link shows as logged too.
                    Path target = Files.createFile(documents.resolve("victim"));
                    Files.createDirectories(log);
                    Files.createLink(log.resolve("Sorjni.log"), target);
                    Files.createLink(log.resolve("Sorlink.log"), target);
                    return target;
                }, false),
                new PrivacyRow("a log folder everybody may write to", (documents, log) -> {
                    Files.createDirectories(log);
                    Files.setPosixFilePermissions(log, PosixFilePermissions.fromString("rwxrwxrwx"));
                    return null;
                }, true),
                new PrivacyRow("a log folder that is a link", (documents, log) -> {
                    Path elsewhere = Files.createDirectory(documents.resolve("elsewhere"));
                    Files.createDirectories(log.getParent());
                    Files.createSymbolicLink(log, elsewhere);
                    return elsewhere;
                }, false),
                new PrivacyRow("a documents folder everybody may write to", (documents, log) -> {
                    Files.setPosixFilePermissions(documents, PosixFilePermissions.fromString("rwxrwxrwx"));
                    return documents;
                }, false),
                new PrivacyRow("a sticky documents folder everybody may write to", (documents, log) -> {
                    Files.setAttribute(documents, "unix:mode", 01777);
                    return null;
                }, true),
                new PrivacyRow("a documents folder of another user's", (documents, log) -> {
                    Files.setOwner(documents, documents.getFileSystem().getUserPrincipalLookupService()
                                                      .lookupPrincipalByName("nobody"));
                    return documents;
                }, false),
                new PrivacyRow("a folder of another user's", (documents, log) -> {
                    Path sorvane = Files.createDirectory(documents.resolve("Sorvane"));
                    Files.setOwner(sorvane, sorvane.getFileSystem().getUserPrincipalLookupService()
                                                    .lookupPrincipalByName("nobody"));
                    return sorvane;
                }, false));
        Path home = BridgeLogFile.home();
        int index = 0;
        for (PrivacyRow row : rows) {
            if (row.name().contains("of another user's") && !root) {
                System.out.println("skipped '" + row.name() + "': needs root to give a folder away");
                continue;
            }
            Path documents = Files.createDirectory(home.resolve("Private" + index++));
            Files.writeString(home.resolve(".config").resolve("user-dirs.dirs"),
                    "XDG_DOCUMENTS_DIR=\"" + documents + "\"\n");
            BridgeLogFile rowLog = BridgeLogFile.under(documents);
            Path kept = row.planting().plant(documents, rowLog.folder);
            String keptBefore = snapshot(kept);
            Check.equal(-1, comm.openDevice("Parallel", "LPT1", 9600, true, 5), row.name());
            Check.equal(keptBefore, snapshot(kept), row.name() + ": planted file untouched");
            Check.equal(row.logged(), Files.isRegularFile(rowLog.file, LinkOption.NOFOLLOW_LINKS)
                            && Files.size(rowLog.file) > 0, row.name() + ": logged");
            if (!row.logged()) continue;
            for (Path folder : List.of(rowLog.folder.getParent().getParent(),
                         rowLog.folder.getParent(), rowLog.folder)) {
                // Made by the bridge: the user's alone; there before: nobody
                // else may write to it any more.
                String folderMode = mode(folder);
                Check.isTrue(folderMode.charAt(4) == '-' && folderMode.charAt(7) == '-',
                        row.name() + ": others may write to " + folder + " " + folderMode);
                if (row.planting() == FRESH) Check.equal("rwx------", folderMode, row.name());
            }
            Check.equal("rw-------", mode(rowLog.file), row.name() + ": bridge log");
            Check.equal("rw-------", mode(rowLog.folder.resolve("Sorlink.log")), row.name() + ": layer log");
        }
    }

    private static String mode(Path path) throws Exception {
        return PosixFilePermissions.toString(
                Files.getPosixFilePermissions(path, LinkOption.NOFOLLOW_LINKS));
    }

    /** What a planted file or folder holds now (its text, or its entries). */
    private static String snapshot(Path kept) throws Exception {
        if (kept == null) return "";
        if (Files.isDirectory(kept, LinkOption.NOFOLLOW_LINKS)) {
            try (var entries = Files.list(kept)) {
                return entries.map(Path::toString).sorted().toList().toString();
            }
        }
        return Files.readString(kept);
    }
}
