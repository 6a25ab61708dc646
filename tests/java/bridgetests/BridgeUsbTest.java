package bridgetests;

import static bridgetests.BridgeLogFile.OPEN;

import com.sorvane.jpos.services.WinPortComm;
import java.util.List;

/** The bridge over the real layer to an installed USB printer whose device node is a terminal. */
public final class BridgeUsbTest {
    private static final WinPortComm comm = new WinPortComm();
    private static final BridgeLogFile log = BridgeLogFile.inHome();
    // On Linux names cross the bridge as UTF-8, as the registry file holds
    // them: the receipt sign (U+1F9FE, a surrogate pair in Java) is four
    // bytes there, where JNI's modified UTF-8 would give six.
    private static final String PRINTER = "Caisse Re\u00e7u \uD83E\uDDFE";

    public static void main(String[] args) throws Exception {
        try (PtyPrinter printer = PtyPrinter.usb(PRINTER)) {
            run(printer);
        }
        Check.finish();
    }

    private static void run(PtyPrinter printer) {
        Check.run("OpenByPrinterNameWritesAndReads", () -> {
            comm.SetDeviceTimeout(2, 1);
            Check.equal(0, comm.openDevice("Usb", PRINTER, 0, true, 5), "open");
            List<String> bodies = log.newBodies();
            Check.isTrue(bodies.contains(OPEN + "Init Port on Com DLL"), "initialised: " + bodies);
            Check.isTrue(bodies.contains(OPEN + "Set Timeouts on Com DLL"), "time-outs applied");
            Check.equal(3, comm.writeData(new byte[] {0x1B, 0x40, 0x0A}, 10), "write");
            Check.bytes(new byte[] {0x1B, 0x40, 0x0A}, printer.receive(3), "bytes on the node");
            printer.send(new byte[] {0x16});
            Thread.sleep(50);
            Check.bytes(new byte[] {0x16}, comm.readData(), "status byte");
        });

        Check.run("ReadTimesOutWithNull", () -> {
            long start = System.nanoTime();
            Check.equal(null, comm.readData(), "nothing to read");
            long elapsedMs = (System.nanoTime() - start) / 1_000_000;
            Check.isTrue(elapsedMs >= 700 && elapsedMs < 4000, "waited the read time-out: " + elapsedMs);
            Check.equal(0, comm.closeDevice(), "close");
        });

        Check.run("UnknownPrinterFailsTheInit", () -> {
            Check.equal(-1, comm.openDevice("USB", "Nobody", 0, true, 5), "open");
            Check.isTrue(log.newBodies().contains(OPEN + "ERROR Init Port on Com DLL"), "logged");
            comm.closeDevice();
        });
    }
}
