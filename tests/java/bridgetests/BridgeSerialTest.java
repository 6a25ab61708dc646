package bridgetests;

import static bridgetests.BridgeLogFile.OPEN;
import static bridgetests.BridgeLogFile.OPEN_WPARAM;
import static bridgetests.BridgeLogFile.READ;

import com.sorvane.jpos.services.WinPortComm;
import java.nio.file.Files;
import java.util.List;

/** The bridge over the real layer to a serial printer on a pseudo-terminal. */
public final class BridgeSerialTest {
    private static final WinPortComm comm = new WinPortComm();
    private static final BridgeLogFile log = BridgeLogFile.inHome();

    public static void main(String[] args) throws Exception {
        try (PtyPrinter printer = PtyPrinter.serial("COM9")) {
            run(printer);
        }
        Check.finish();
    }

    private static void run(PtyPrinter printer) {
        Check.run("OpenDeviceSetsOddParityOneStopBitHardwareFlow", () -> {
            comm.SetDeviceBuffer(512, 16);
            comm.SetDeviceTimeout(2, 1);
            Check.equal(0, comm.openDevice("rs232", "COM9", 9600, true, 5), "open");
            Check.isTrue(log.newBodies().contains(OPEN + "Set Timeouts on Com DLL"), "time-outs applied");
            Check.equal("baud=9600 odd=1 stop=1 rtscts=1 xonxoff=0", printer.settings(), "line");
            Check.isTrue(Files.readString(log.folder.resolve("Sorlink.log"))
                                 .contains("= [10 100 0 2000 10]"),
                    "layer given the write time-out and a read step without a per-byte part");
        });

        Check.run("ReadTimesOutWithNull", () -> {
            long start = System.nanoTime();
            Check.equal(null, comm.readData(), "nothing to read");
            long elapsedMs = (System.nanoTime() - start) / 1_000_000;
            Check.isTrue(elapsedMs >= 700 && elapsedMs < 4000, "waited the read time-out: " + elapsedMs);
            Check.equal(List.of(READ + "START", READ + "Read Error", READ + "END"), log.newBodies(), "log");
        });

        Check.run("WriteSizesReachTheLine", () -> {
            byte[] data = {0x1B, 0x74, 0x10, 0x55};
            Check.equal(4, comm.writeData(data, 0), "size 0");
            Check.equal(4, comm.writeData(data, -5), "size -5");
            Check.equal(3, comm.writeData(data, 3), "size 3");
            Check.equal(4, comm.writeData(data, 40), "oversized");
            Check.bytes(new byte[] {0x1B, 0x74, 0x10, 0x55, 0x1B, 0x74, 0x10, 0x55, 0x1B, 0x74,
                                0x10, 0x1B, 0x74, 0x10, 0x55},
                    printer.receive(15), "bytes on the line");
            Check.isTrue(printer.nothingMore(), "nothing past the array");
        });

        Check.run("ReadReturnsThePrintersBytes", () -> {
            printer.send(new byte[] {0x12, 0x00, 0x7F});
            Thread.sleep(50);
            Check.bytes(new byte[] {0x12, 0x00, 0x7F}, comm.readData(), "status bytes");
        });

        Check.run("PortParamsN82WithoutFlowControl", () -> {
            Check.equal(0, comm.openDeviceWParam("RS232", "COM9", 19200, "n82", 0, true, 5), "open");
            Check.isTrue(log.newBodies().contains(OPEN_WPARAM + "DLL Already Opened. Close it"),
                    "first device closed");
            Check.equal("baud=19200 odd=0 stop=2 rtscts=0 xonxoff=0", printer.settings(), "line");
        });

        Check.run("PortParamsX71GiveEvenParity", () -> {
            Check.equal(0, comm.openDeviceWParam("RS232", "COM9", 9600, "x71", 2, true, 5), "open");
            // Xon/Xoff flow never waits for CTS.
            Check.equal("baud=9600 odd=0 stop=1 rtscts=0 xonxoff=1", printer.settings(), "line");
            Check.equal(2, comm.writeData(new byte[] {0x41, 0x42}, 0), "write");
            Check.bytes(new byte[] {0x41, 0x42}, printer.receive(2), "bytes on the line");
            Check.equal(0, comm.closeDevice(), "close");
        });
    }
}
