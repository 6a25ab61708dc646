package bridgetests;

import com.sorvane.jpos.services.WinPortComm;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicReference;
import java.util.stream.Stream;

/**
 * Several WinPortComm objects driven from several threads over the real layer, as a JavaPOS
 * service drives them: one row per scenario, each bounded in time.
 */
public final class BridgeThreadsTest {
    interface Scenario {
        void run() throws Exception;
    }

    private record Row(String name, Scenario scenario) {}

    /** How long the threads of the busy scenario run. */
    private static final long RUN_MS = Long.getLong("sorjni.threadsRunMs", 2000);
    /** No scenario may take longer than this; one that does has hung. */
    private static final long ROW_LIMIT_MS = 60_000;

    public static void main(String[] args) throws Exception {
        List<Row> rows = List.of(
                new Row("PrinterAndScannerEachGetOnlyTheirOwnBytes",
                        BridgeThreadsTest::printerAndScanner),
                new Row("CloseFromAnotherThreadEndsAWaitingReadWithNull",
                        BridgeThreadsTest::closeDuringRead),
                new Row("BufferResizedWhileAReadWaits", BridgeThreadsTest::bufferResizedDuringRead),
                new Row("TcpReadWaitsTheReadTimeout", BridgeThreadsTest::tcpReadWaits),
                new Row("AReadEndsInTimeWhileAnotherObjectConnects",
                        BridgeThreadsTest::readWhileAnotherConnects),
                new Row("FailedOpensKeepDescriptorsAndMemoryFlat",
                        BridgeThreadsTest::failedOpensStayFlat));
        for (Row row : rows) {
            Check.run(row.name(), () -> bounded(row.scenario()));
        }
        Check.finish();
    }

    private static void bounded(Scenario scenario) throws Exception {
        AtomicReference<Throwable> failure = new AtomicReference<>();
        Thread runner = new Thread(() -> {
            try {
                scenario.run();
            } catch (Throwable t) {
                failure.set(t);
            }
        });
        runner.setDaemon(true);
        runner.start();
        runner.join(ROW_LIMIT_MS);
        if (runner.isAlive()) throw new AssertionError("still running after " + ROW_LIMIT_MS + " ms");
        if (failure.get() instanceof Exception e) throw e;
        if (failure.get() instanceof Error e) throw e;
    }

    /**
     * A TCP printer on the loopback address that records every byte of every connection, one
     * connection after the other, and may send a status byte at a steady pace.
     */
    static final class RecordingPrinter implements AutoCloseable {
        final ServerSocket server;
        final ByteArrayOutputStream received = new ByteArrayOutputStream();
        final AtomicBoolean sending = new AtomicBoolean();
        private final Thread acceptor;
        private volatile Socket connection;

        RecordingPrinter(byte statusByte) throws IOException {
            server = new ServerSocket(0, 8, InetAddress.getLoopbackAddress());
            acceptor = new Thread(() -> serve(statusByte));
            acceptor.setDaemon(true);
            acceptor.start();
        }

        String address() {
            return "127.0.0.1:" + server.getLocalPort();
        }

        private void serve(byte statusByte) {
            try {
                for (;;) {
                    Socket accepted = server.accept();
                    connection = accepted;
                    Thread status = new Thread(() -> sendStatus(accepted, statusByte));
                    status.setDaemon(true);
                    status.start();
                    InputStream in = accepted.getInputStream();
                    byte[] chunk = new byte[4096];
                    for (int n; (n = readOrEnd(in, chunk)) > 0;) {
                        synchronized (received) {
                            received.write(chunk, 0, n);
                            received.notifyAll();
                        }
                    }
                    accepted.close();
                }
            } catch (IOException serverClosed) {
                // close() ends the printer
            }
        }

        private static int readOrEnd(InputStream in, byte[] chunk) {
            try {
                return in.read(chunk);
            } catch (IOException reset) {
                return -1;
            }
        }

        private void sendStatus(Socket socket, byte statusByte) {
            try {
                OutputStream out = socket.getOutputStream();
                while (!socket.isClosed()) {
                    if (sending.get()) out.write(statusByte);
                    Thread.sleep(20);
                }
            } catch (IOException | InterruptedException ended) {
                // the connection is gone
            }
        }

        /** Waits, bounded, until count bytes arrived in all; returns them. */
        byte[] await(int count) throws InterruptedException {
            long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
            synchronized (received) {
                while (received.size() < count && System.nanoTime() < end) received.wait(100);
                return received.toByteArray();
            }
        }

        @Override
        public void close() throws IOException {
            server.close();
            Socket last = connection;
            if (last != null) last.close();
        }
    }

    /** One device's traffic: the records its print thread had accepted, in order. */
    static final class Traffic {
        final ByteArrayOutputStream accepted = new ByteArrayOutputStream();
        final List<String> problems = new ArrayList<>();
        private long writes;

        synchronized void written(byte[] line) {
            accepted.write(line, 0, line.length);
            ++writes;
            notifyAll();
        }

        /** Waits, bounded by endNs, until a write is accepted after the call. */
        synchronized void awaitNextWrite(long endNs) throws InterruptedException {
            long before = writes;
            while (writes == before && System.nanoTime() < endNs) wait(50);
        }

        synchronized void problem(String what) {
            if (problems.size() < 10) problems.add(what);
        }
    }

    private static Thread start(String name, Runnable body) {
        Thread thread = new Thread(body, name);
        thread.start();
        return thread;
    }

    private static Thread printThread(WinPortComm comm, String tag, Traffic traffic, long endNs) {
        return start(tag + "-print", () -> {
            for (int i = 0; System.nanoTime() < endNs; ++i) {
                byte[] line = String.format("%s:%06d\n", tag, i % 1_000_000)
                                      .getBytes(StandardCharsets.US_ASCII);
                int result = comm.writeData(line, line.length);
                if (result == line.length) {
                    traffic.written(line);
                } else if (result != 0) {
                    traffic.problem("writeData returned " + result);
                }
            }
        });
    }

    /** Reads until the end; every byte read must be the device's own status byte. */
    private static Thread statusThread(WinPortComm comm, String tag, byte expected, Traffic traffic,
            long endNs) {
        return start(tag + "-status", () -> {
            while (System.nanoTime() < endNs) {
                byte[] bytes = comm.readData();
                if (bytes == null) continue;
                for (byte b : bytes) {
                    if (b != expected) traffic.problem("read byte " + b + " on " + tag);
                }
            }
        });
    }

    private static void join(Thread... threads) throws InterruptedException {
        for (Thread thread : threads) {
            thread.join(30_000);
            Check.isTrue(!thread.isAlive(), thread.getName() + " ended");
        }
    }

    /**
     * A printer object and a scanner object on two loopback printers, each with a print thread
     * and a status thread; a third thread closes and opens the printer again and again. Only the
     * scanner's printer sends status bytes.
     */
    private static void printerAndScanner() throws Exception {
        try (RecordingPrinter printerPeer = new RecordingPrinter((byte) 'p');
                RecordingPrinter scannerPeer = new RecordingPrinter((byte) 's')) {
            scannerPeer.sending.set(true);
            WinPortComm printer = new WinPortComm();
            WinPortComm scanner = new WinPortComm();
            printer.SetDeviceTimeout(2, 1);
            scanner.SetDeviceTimeout(2, 1);
            Check.equal(0, printer.openDevice("Ethernet", printerPeer.address(), 0, true, 1), "printer");
            Check.equal(0, scanner.openDevice("Ethernet", scannerPeer.address(), 0, true, 1), "scanner");
            Traffic printerTraffic = new Traffic();
            Traffic scannerTraffic = new Traffic();
            long endNs = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(RUN_MS);
            Thread closer = start("closer", () -> {
                int reopened = 0;
                while (System.nanoTime() < endNs) {
                    printer.closeDevice();
                    if (printer.openDevice("Ethernet", printerPeer.address(), 0, true, 1) != 0) {
                        printerTraffic.problem("reopen failed");
                    }
                    ++reopened;
                    try {
                        // The print thread gets a write through each device.
                        printerTraffic.awaitNextWrite(endNs);
                    } catch (InterruptedException e) {
                        return;
                    }
                }
                if (reopened < 3) printerTraffic.problem("reopened only " + reopened + " times");
            });
            join(printThread(printer, "P", printerTraffic, endNs),
                    statusThread(printer, "P", (byte) 'p', printerTraffic, endNs),
                    printThread(scanner, "S", scannerTraffic, endNs),
                    statusThread(scanner, "S", (byte) 's', scannerTraffic, endNs), closer);
            scannerPeer.sending.set(false);
            Check.equal(List.of(), printerTraffic.problems, "printer");
            Check.equal(List.of(), scannerTraffic.problems, "scanner");
            byte[] printed = printerTraffic.accepted.toByteArray();
            byte[] scanned = scannerTraffic.accepted.toByteArray();
            Check.isTrue(printed.length > 0 && scanned.length > 0, "both wrote");
            printer.closeDevice();
            scanner.closeDevice();
            Check.bytes(printed, printerPeer.await(printed.length), "the printer's bytes");
            Check.bytes(scanned, scannerPeer.await(scanned.length), "the scanner's bytes");
        }
    }

    /** Waits, bounded, for a line in the bridge log written since `mark` lines. */
    private static void awaitLogLine(BridgeLogFile log, String line) throws Exception {
        long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (System.nanoTime() < end) {
            if (log.newBodies().contains(line)) return;
            Thread.sleep(5);
        }
        throw new AssertionError("no log line " + line);
    }

    private static void closeDuringRead() throws Exception {
        BridgeLogFile log = BridgeLogFile.inHome();
        try (RecordingPrinter silent = new RecordingPrinter((byte) 0)) {
            WinPortComm comm = new WinPortComm();
            comm.SetDeviceTimeout(2, 20);
            Check.equal(0, comm.openDevice("Ethernet", silent.address(), 0, true, 3), "open");
            log.skip();
            AtomicReference<byte[]> read = new AtomicReference<>(new byte[] {1});
            long started = System.nanoTime();
            Thread reader = start("reader", () -> read.set(comm.readData()));
            awaitLogLine(log, BridgeLogFile.READ + "START");
            Thread closer = start("closer", comm::closeDevice);
            join(closer, reader);
            long elapsedMs = (System.nanoTime() - started) / 1_000_000;
            Check.equal(null, read.get(), "the waiting read's result");
            Check.isTrue(elapsedMs < 20_000, "ended before its 20 s time-out: " + elapsedMs + " ms");
        }
    }

    private static void bufferResizedDuringRead() throws Exception {
        BridgeLogFile log = BridgeLogFile.inHome();
        try (LoopbackPrinter peer = new LoopbackPrinter()) {
            WinPortComm comm = new WinPortComm();
            comm.SetDeviceTimeout(2, 5);
            Check.equal(0, comm.openDevice("Ethernet", peer.address(), 0, true, 3), "open");
            peer.accept();
            log.skip();
            AtomicReference<byte[]> read = new AtomicReference<>();
            Thread reader = start("reader", () -> read.set(comm.readData()));
            awaitLogLine(log, BridgeLogFile.READ + "START");
            for (int size = 4096; size >= 1; size /= 2) comm.SetDeviceBuffer(512, size);
            comm.SetDeviceBuffer(512, 4);
            peer.send("ABCDEFGH".getBytes(StandardCharsets.US_ASCII));
            join(reader);
            byte[] bytes = read.get();
            Check.isTrue(bytes != null && bytes.length >= 1 && bytes.length <= 4096, "read something");
            Check.bytes(java.util.Arrays.copyOf("ABCDEFGH".getBytes(StandardCharsets.US_ASCII),
                                bytes.length), bytes, "a prefix of what was sent");
            comm.closeDevice();
        }
    }

    private static void tcpReadWaits() throws Exception {
        try (LoopbackPrinter peer = new LoopbackPrinter()) {
            WinPortComm comm = new WinPortComm();
            comm.SetDeviceTimeout(2, 1);
            Check.equal(0, comm.openDevice("Ethernet", peer.address(), 0, false, 0), "open");
            peer.accept();
            long started = System.nanoTime();
            Check.equal(null, comm.readData(), "nothing sent");
            long elapsedMs = (System.nanoTime() - started) / 1_000_000;
            Check.isTrue(elapsedMs >= 1000, "waited the 1 s read time-out: " + elapsedMs + " ms");
            peer.send(new byte[] {0x16});
            Check.bytes(new byte[] {0x16}, comm.readData(), "a byte sent later");
            comm.closeDevice();
        }
    }

    /**
     * One object opens a printer whose listen queue is full, so its connect waits the layer's
     * connection time-out (10 s); another object's read meanwhile still ends at its own 1 s.
     */
    private static void readWhileAnotherConnects() throws Exception {
        BridgeLogFile log = BridgeLogFile.inHome();
        List<Socket> queued = new ArrayList<>();
        try (LoopbackPrinter peer = new LoopbackPrinter();
                ServerSocket full = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
            // The queue holds a connection or two more than its backlog;
            // the first connect that is not answered shows it is full.
            for (int i = 0; i < 16; ++i) {
                Socket socket = new Socket();
                queued.add(socket);
                try {
                    socket.connect(full.getLocalSocketAddress(), 200);
                } catch (IOException unanswered) {
                    break;
                }
            }
            WinPortComm reader = new WinPortComm();
            reader.SetDeviceTimeout(2, 1);
            Check.equal(0, reader.openDevice("Ethernet", peer.address(), 0, false, 0), "open");
            peer.accept();
            WinPortComm connecting = new WinPortComm();
            log.skip();
            Thread opener = start("opener", () -> connecting.openDevice("Ethernet",
                    "127.0.0.1:" + full.getLocalPort(), 0, true, 2));
            awaitLogLine(log, BridgeLogFile.OPEN + "Init Port on Com DLL");
            long started = System.nanoTime();
            Check.equal(null, reader.readData(), "nothing sent");
            long elapsedMs = (System.nanoTime() - started) / 1_000_000;
            Check.isTrue(elapsedMs < 3000, "read ended near its 1 s time-out: " + elapsedMs + " ms");
            join(opener);
            connecting.closeDevice();
            reader.closeDevice();
        } finally {
            for (Socket socket : queued) socket.close();
        }
    }

    private static long openDescriptors() throws IOException {
        try (Stream<Path> entries = Files.list(Path.of("/proc/self/fd"))) {
            return entries.count();
        }
    }

    private static long residentKb() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("\\D", ""));
        }
        throw new AssertionError("no VmRSS");
    }

    /**
     * Each failed open and close loads and unloads the layer, which parses the registry file
     * and opens the serial port it names (a missing device) at every load.
     */
    private static void failedOpensStayFlat() throws Exception {
        Path registry = Path.of(System.getenv("SORLINK_REGISTRY"));
        Path missing = registry.resolveSibling("no-such-tty");
        Files.writeString(registry, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n\""
                + missing + "\"=\"COM7\"\n");
        WinPortComm comm = new WinPortComm();
        Runnable cycle = () -> {
            Check.equal(-1, comm.openDevice("RS232", "COM7", 9600, false, 0), "missing device");
            comm.closeDevice();
        };
        for (int i = 0; i < 200; ++i) cycle.run();
        long descriptors = openDescriptors();
        long residentKb = residentKb();
        for (int i = 0; i < 1000; ++i) cycle.run();
        long grownKb = residentKb() - residentKb;
        System.out.println("1000 failed opens: resident memory grew by " + grownKb + " KB");
        Check.equal(descriptors, openDescriptors(), "open descriptors");
        // The sanitizer keeps freed memory in quarantine and maps shadow
        // memory at every load: resident memory says nothing then.
        String preloaded = System.getenv("LD_PRELOAD");
        if (preloaded != null && preloaded.contains("asan")) {
            System.out.println("memory not compared: the sanitizer's run time is loaded");
            return;
        }
        Check.isTrue(grownKb < 512, "resident memory grew by " + grownKb + " KB");
    }
}
