package bridgetests;

import static bridgetests.BridgeLogFile.OPEN;
import static bridgetests.BridgeLogFile.READ;
import static bridgetests.BridgeLogFile.WRITE;

import com.sorvane.jpos.services.WinPortComm;
import java.net.Socket;
import java.nio.file.Files;
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
            Check.isTrue(log.newBodies().contains(OPEN + "DLL Already Opened. Close it"), "logged");
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
            Check.equal(1, comm.writeData(new byte[] {0x20}, 1), "write after close");
            Check.isTrue(log.newBodies().contains(WRITE + "Write Error"), "write refused");
            Check.equal(null, comm.readData(), "read after close");
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
