package bridgetests;

import static bridgetests.BridgeLogFile.OPEN;

import com.sorvane.jpos.services.WinPortComm;
import java.util.List;

/** The bridge alone in its folder finds the layer through the system's library search. */
public final class BridgeLayerOnSearchPathTest {
    public static void main(String[] args) {
        WinPortComm comm = new WinPortComm();
        BridgeLogFile log = BridgeLogFile.inHome();

        Check.run("LayerIsFoundOnTheLibrarySearchPath", () -> {
            Check.equal(-1, comm.openDevice("Parallel", "LPT1", 0, true, 2), "unknown bus");
            Check.equal(List.of(OPEN + "Init Com DLL", OPEN + "GetDevicePort: PORT  NOT Recognized",
                                OPEN + "ERROR, Port non Recognized"),
                    log.newBodies(), "log");
            Check.equal(0, comm.closeDevice(), "close");
        });

        Check.finish();
    }
}
