package bridgetests;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** The bridge's log file under the test's home folder, read line by line. */
final class BridgeLogFile {
    static final String OPEN = "Java_com_sorvane_jpos_services_WinPortComm_openDevice: ";
    static final String OPEN_WPARAM = "Java_com_sorvane_jpos_services_WinPortComm_openDeviceWParam: ";
    static final String CLOSE = "Java_com_sorvane_jpos_services_WinPortComm_closeDevice: ";
    static final String READ = "Java_com_sorvane_jpos_services_WinPortComm_readData: ";
    static final String WRITE = "Java_com_sorvane_jpos_services_WinPortComm_writeData: ";
    static final String BUFFER = "Java_com_sorvane_jpos_services_WinPortComm_SetDeviceBuffer: ";
    static final String TIMEOUT = "Java_com_sorvane_jpos_services_WinPortComm_SetDeviceTimeout: ";
    static final int STAMP_LENGTH = "[2025/01/02 09:05:03]".length();

    final Path folder;
    final Path file;
    private int mark;

    /** The log folder when the home folder has no Documents folder. */
    static BridgeLogFile inHome() {
        return new BridgeLogFile(home());
    }

    static BridgeLogFile under(Path documents) {
        return new BridgeLogFile(documents);
    }

    static Path home() {
        return Path.of(System.getenv("HOME"));
    }

    private BridgeLogFile(Path documents) {
        folder = documents.resolve("Sorvane").resolve("JavaPos").resolve("Log");
        file = folder.resolve("Sorjni.log");
    }

    /** Whole lines, stamp included, split on CR LF. */
    List<String> lines() throws IOException {
        if (!Files.exists(file)) return new ArrayList<>();
        String text = new String(Files.readAllBytes(file), StandardCharsets.UTF_8);
        Check.isTrue(text.isEmpty() || text.endsWith("\r\n"), "log ends with CR LF");
        List<String> lines = new ArrayList<>(List.of(text.split("\r\n", -1)));
        lines.remove(lines.size() - 1);
        return lines;
    }

    /** The lines written since the last call, without their stamps. */
    List<String> newBodies() throws IOException {
        List<String> all = lines();
        List<String> bodies = new ArrayList<>();
        for (String line : all.subList(Math.min(mark, all.size()), all.size())) {
            bodies.add(line.substring(STAMP_LENGTH));
        }
        mark = all.size();
        return bodies;
    }

    /** Forgets what was written so far. */
    void skip() throws IOException {
        mark = lines().size();
    }
}
