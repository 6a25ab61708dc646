package bridgetests;

import static bridgetests.BridgeLogFile.OPEN;

import com.sorvane.jpos.services.WinPortComm;
import java.util.List;

/** The bridge alone in its folder, with no layer on the library search path. */
public final class BridgeWithoutLayerTest {
    public static void main(String[] args) {
        WinPortComm comm = new WinPortComm();
        BridgeLogFile log = BridgeLogFile.inHome();
        String version = System.getProperty("sorjni.versionText");

        Check.run("OpenFailsWhenTheLayerCannotBeLoaded", () -> {
            Check.equal(-1, comm.openDevice("RS232", "COM1", 9600, true, 5), "result");
            Check.equal(List.of(OPEN + "START", OPEN + "DLL version " + version,
                                OPEN + "ERROR Init libSorlink64.so", OPEN + "END"),
                    log.newBodies(), "log");
        });

        Check.run("CallsWithoutLayerAreRefused", () -> {
            Check.equal(0, comm.writeData(new byte[] {1, 2}, 0), "write");
            Check.equal(null, comm.readData(), "read");
            comm.SetDeviceBuffer(0, 16);
            Check.equal(null, comm.readData(), "read with a buffer");
            Check.equal(0, comm.closeDevice(), "close");
        });

        Check.finish();
    }
}
