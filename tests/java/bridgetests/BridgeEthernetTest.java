package bridgetests;

import static bridgetests.BridgeLogFile.OPEN;
import static bridgetests.BridgeLogFile.READ;
import static bridgetests.BridgeLogFile.WRITE;

import com.sorvane.jpos.services.WinPortComm;
import java.io.IOException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/** The bridge over the real layer to a TCP printer on the loopback address. */
public final class BridgeEthernetTest {
    private static final WinPortComm comm = new WinPortComm();
    private static final BridgeLogFile log = BridgeLogFile.inHome();

    public static void main(String[] args) throws Exception {
        try (LoopbackPrinter printer = new LoopbackPrinter()) {
            run(printer);
        }
        Check.finish();
    }

    private static Path layerLog() {
        return log.folder.resolve("Sorlink.log");
    }

    /** Ports alive in the layer by its log: those created since it last destroyed them all. */
    private static int livePorts() throws IOException {
        String text = Files.readString(layerLog());
        String since = text.substring(Math.max(0, text.lastIndexOf("Destroying all the communication ports")));
        return since.split("CreateCommunicationPort-", -1).length - 1;
    }

    private static void run(LoopbackPrinter printer) {
        Check.run("TimeoutSetBeforeAnyOpenAppliesAtTheOpen", () -> {
            // Stored now (no device yet), applied when the open below sets up the link.
            comm.SetDeviceTimeout(2, 1);
            Check.equal(0, comm.openDevice("Ethernet", printer.address(), 0, true, 5), "open");
            printer.accept();
            List<String> bodies = log.newBodies();
            Check.isTrue(bodies.contains("CommunicationDll_Eth_Init: IP = 127.0.0.1"), "ip: " + bodies);
            Check.isTrue(bodies.contains("CommunicationDll_Eth_Init: IP PORT = "
                    + printer.address().split(":")[1]), "port");
            Check.isTrue(bodies.contains(OPEN + "Set Timeouts on Com DLL"), "time-outs applied");
            // The layer reports the time-outs it was given at the open.
            String layerLog = Files.readString(log.folder.resolve("Sorlink.log"));
            Check.isTrue(layerLog.contains(
                    "Timeout values for ethernet communication setted to: [send timeout, receive timeout] = [2000 , 1000 ]"),
                    "layer log: " + layerLog);
        });

        Check.run("ReadWithNothingSentReturnsNull", () -> {
            Check.equal(null, comm.readData(), "nothing to read");
            Check.equal(List.of(READ + "START", READ + "Read Error", READ + "END"), log.newBodies(), "log");
        });

        Check.run("WriteSizeZeroNegativeShortAndOversized", () -> {
            byte[] data = {0x1B, 0x40, 0x41, 0x42, 0x0A};
            Check.equal(5, comm.writeData(data, 0), "size 0 writes the whole array");
            Check.equal(5, comm.writeData(data, -5), "negative size writes the whole array");
            Check.equal(3, comm.writeData(data, 3), "size 3 writes the first three");
            Check.equal(5, comm.writeData(data, 100), "oversized is cut to the array");
            Check.bytes(new byte[] {0x1B, 0x40, 0x41, 0x42, 0x0A, 0x1B, 0x40, 0x41, 0x42, 0x0A,
                                0x1B, 0x40, 0x41, 0x1B, 0x40, 0x41, 0x42, 0x0A},
                    printer.receive(18), "bytes on the wire");
            Check.isTrue(printer.nothingMore(), "nothing past the array");
            List<String> bodies = log.newBodies();
            Check.equal(List.of(WRITE + "START", WRITE + "(B)Buffer Size = 100",
                                WRITE + "(A)Buffer Size = 5", WRITE + "Write 5 Bytes", WRITE + "END"),
                    bodies.subList(bodies.size() - 5, bodies.size()), "log of the oversized write");
        });

        Check.run("ReadReturnsThePrintersBytes", () -> {
            printer.send(new byte[] {0x10, 0x04, 0x12});
            Check.bytes(new byte[] {0x10, 0x04, 0x12}, comm.readData(), "status bytes");
            List<String> bodies = log.newBodies();
            Check.equal(List.of(READ + "START", READ + "Read 3 Bytes"), bodies, "log (no END)");
        });

        Check.run("ReadBufferSizeBoundsEachRead", () -> {
            comm.SetDeviceBuffer(512, 4);
            printer.send("ABCDEFG".getBytes());
            Thread.sleep(100);
            Check.bytes("ABCD".getBytes(), comm.readData(), "first read");
            // A read size below 1 keeps the previous one.
            comm.SetDeviceBuffer(512, 0);
            comm.SetDeviceBuffer(512, -3);
            Check.bytes("EFG".getBytes(), comm.readData(), "second read");
            comm.SetDeviceBuffer(512, 2048);
        });

        Check.run("TimeoutChangeAppliesToTheOpenDevice", () -> {
            log.skip();
            comm.SetDeviceTimeout(2, 0);
            List<String> bodies = log.newBodies();
            Check.isTrue(bodies.contains(OPEN + "COM Port Timeout Set (ETH)"), "eth: " + bodies);
            // A zero receive time-out is refused by the layer.
            Check.isTrue(bodies.contains(OPEN + "ERROR Set Timeouts on Com DLL"), "refused");
            comm.SetDeviceTimeout(2, 1);
            Check.isTrue(log.newBodies().contains(OPEN + "Set Timeouts on Com DLL"), "accepted");
        });

        Check.run("HugeReadSizeAndTimeoutsAreAccepted", () -> {
            comm.SetDeviceBuffer(512, Integer.MAX_VALUE);
            printer.send(new byte[] {0x31, 0x32});
            Thread.sleep(100);
            Check.bytes(new byte[] {0x31, 0x32}, comm.readData(), "read into the large buffer");
            comm.SetDeviceBuffer(512, 2048);
            log.skip();
            comm.SetDeviceTimeout(Integer.MAX_VALUE, Integer.MAX_VALUE);
            Check.isTrue(log.newBodies().contains(OPEN + "Set Timeouts on Com DLL"), "accepted");
            Check.isTrue(Files.readString(log.folder.resolve("Sorlink.log"))
                                 .contains("= [2147483647 , 2147483647 ]"),
                    "seconds saturate at the largest millisecond count");
            log.skip();
            // Negative seconds become 0 ms, which the layer refuses.
            comm.SetDeviceTimeout(-1, -1);
            Check.isTrue(log.newBodies().contains(OPEN + "ERROR Set Timeouts on Com DLL"), "refused");
            comm.SetDeviceTimeout(2, 1);
        });

        Check.run("SecondOpenClosesTheFirstConnection", () -> {
            Socket first = printer.current();
            Check.equal(0, comm.openDevice("ethernet", printer.address(), 0, true, 3), "second open");
            List<String> bodies = log.newBodies();
            Check.isTrue(bodies.contains(OPEN + "DLL Already Opened. Close it"), "logged");
            // The only object's layer was unloaded and loaded afresh.
            Check.isTrue(bodies.contains(OPEN + "Create Port on Com DLL with 1 ID"), "new ID " + bodies);
            Check.isTrue(LoopbackPrinter.closedByPeer(first), "first connection closed");
            printer.accept();
            Check.equal(2, comm.writeData(new byte[] {0x0C, 0x0D}, 2), "write");
            Check.bytes(new byte[] {0x0C, 0x0D}, printer.receive(2), "bytes on the new connection");
        });

        Check.run("CloseEndsTheConnectionAndLaterCallsAreRefused", () -> {
            Socket connection = printer.current();
            Check.equal(0, comm.closeDevice(), "close");
            Check.isTrue(LoopbackPrinter.closedByPeer(connection), "connection closed");
            log.skip();
            Check.equal(0, comm.writeData(new byte[] {0x20}, 1), "write after close");
            Check.isTrue(log.newBodies().contains(WRITE + "Write Error"), "write refused");
            Check.equal(null, comm.readData(), "read after close");
        });

        Check.run("AnOpenWhoseTimeoutsAreRefusedLeavesNothingOpen", () -> {
            comm.SetDeviceTimeout(-1, -1);
            Check.equal(-1, comm.openDevice("Ethernet", printer.address(), 0, true, 3), "open");
            Check.equal(-1, printer.accept().getInputStream().read(), "connection closed");
            Check.equal(0, livePorts(), "ports in the layer");
            comm.SetDeviceTimeout(2, 1);
        });

        Check.run("FailedRetriesAfterCloseLeaveOnePortInTheLayer", () -> {
            try (Socket refusing = new Socket()) {
                // Bound and never listening: every connection to it is refused.
                refusing.bind(new InetSocketAddress(InetAddress.getLoopbackAddress(), 0));
                for (int retry = 0; retry < 3; ++retry) {
                    Check.equal(-1, comm.openDevice("Ethernet", "127.0.0.1:" + refusing.getLocalPort(),
                                        0, true, 3), "offline printer");
                    Check.equal(1, livePorts(), "ports in the layer after retry " + retry);
                }
            }
            Check.isTrue(!log.newBodies().contains(OPEN + "DLL Already Opened. Close it"),
                    "no device was open");
        });

        Check.run("LayerLogHoldsTheLevelsOfTheBridgeLevel", () -> {
            // Bridge level: 1 errors (8), 2 and information (12), 3 and START/END (14),
            // 4 and 5 and every byte (15); any other level errors only.
            int[] masks = {0, 8, 12, 14, 15, 15, 8};
            for (int level = 1; level <= 6; ++level) {
                comm.closeDevice();
                long start = Files.size(layerLog());
                Check.equal(0, comm.openDevice("Ethernet", printer.address(), 0, true, level), "open");
                printer.accept();
                comm.writeData(new byte[] {0x41}, 1);
                Check.equal(null, comm.readData(), "read failing with nothing to read");
                String text = Files.readString(layerLog()).substring((int) start);
                int mask = (text.contains("Read failed") ? 8 : 0)
                        | (text.contains("TCP connect successful") ? 4 : 0)
                        | (text.contains("START") ? 2 : 0) | (text.contains("SendBuffer[") ? 1 : 0);
                Check.equal(masks[level], mask, "layer levels at bridge level " + level);
            }
        });

        Check.run("AddressWithoutPortUsesPort9100", () -> {
            comm.openDevice("Ethernet", "127.0.0.1", 0, true, 2);
            List<String> bodies = log.newBodies();
            Check.isTrue(bodies.contains("CommunicationDll_Eth_Init: IP = 127.0.0.1"), "ip: " + bodies);
            Check.isTrue(bodies.contains("CommunicationDll_Eth_Init: IP PORT = 9100"), "port 9100");
            comm.closeDevice();
        });
    }
}
