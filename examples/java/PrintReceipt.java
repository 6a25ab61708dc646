import com.sorvane.jpos.services.WinPortComm;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * Prints a file on a network receipt printer and asks for its status, through the JavaPOS
 * bridge (Sorjni), as a JavaPOS printer service does.
 *
 * <pre>java -Djava.library.path=LIBDIR PrintReceipt ADDRESS PORT FILE</pre>
 *
 * LIBDIR holds libSorjni.so and libSorlink64.so (Sorjni.dll and Sorlink64.dll on Windows).
 */
public final class PrintReceipt {
    private static final byte[] STATUS_REQUEST = {0x10, 0x04, 0x01};  // DLE EOT 1

    private PrintReceipt() {}

    public static void main(String[] args) throws Exception {
        if (args.length != 3) {
            System.err.println("usage: PrintReceipt ADDRESS PORT FILE");
            System.exit(2);
        }
        String file = args[2];
        byte[] receipt = Files.readAllBytes(Paths.get(file));
        WinPortComm printer = new WinPortComm();
        // Bus "Ethernet" takes ADDRESS:PORT as its port name (port 9100 when
        // none is given); the baud rate does not apply; bridge log off.
        String portName = args[0] + ":" + args[1];
        if (printer.openDevice("Ethernet", portName, 0, false, 0) != 0) {
            System.err.println("cannot open " + portName);
            System.exit(1);
        }
        int status = 1;
        try {
            // Writes may take 5 s, a read waits up to 2 s for an answer.
            printer.SetDeviceTimeout(5, 2);
            // writeData returns the length only when every byte was sent,
            // and 0 when the write failed.
            if (printer.writeData(receipt, receipt.length) == receipt.length
                    && printer.writeData(STATUS_REQUEST, STATUS_REQUEST.length)
                            == STATUS_REQUEST.length) {
                // readData waits for the answer as long as the read time-out
                // says; null means none came in that time.
                byte[] answer = printer.readData();
                if (answer != null && answer.length > 0) {
                    System.out.printf("printed %s; printer status 0x%02x%n", file, answer[0]);
                    status = 0;
                } else {
                    System.err.println("no status answer");
                }
            } else {
                System.err.println("the printer did not take the data");
            }
        } finally {
            printer.closeDevice();
        }
        System.exit(status);
    }
}
