package bridgetests;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintWriter;
import java.nio.charset.StandardCharsets;
import java.util.HexFormat;
import java.util.concurrent.TimeUnit;

/**
 * A printer on a pseudo-terminal, played by a helper process: a serial printer whose terminal is
 * mapped to a COM name in the registry file the layer reads ($SORLINK_REGISTRY), or a USB printer
 * whose usblp device node is the terminal, installed under a printer name.
 */
final class PtyPrinter implements AutoCloseable {
    private final Process helper;
    private final BufferedReader answers;
    private final PrintWriter commands;
    final String device;

    static PtyPrinter serial(String comName) throws IOException {
        return new PtyPrinter("serial", comName);
    }

    static PtyPrinter usb(String printerName) throws IOException {
        return new PtyPrinter("usb", printerName);
    }

    private PtyPrinter(String kind, String name) throws IOException {
        // The name goes as the hexadecimal of its UTF-8 bytes: a command line
        // carries only what the C locale's charset can hold.
        String hexName =
                "hex:" + HexFormat.of().formatHex(name.getBytes(StandardCharsets.UTF_8));
        helper = new ProcessBuilder(System.getProperty("sorjni.ptyPrinter"), kind,
                System.getenv("SORLINK_REGISTRY"), hexName)
                         .redirectError(ProcessBuilder.Redirect.INHERIT)
                         .start();
        answers = new BufferedReader(
                new InputStreamReader(helper.getInputStream(), StandardCharsets.US_ASCII));
        commands = new PrintWriter(helper.getOutputStream(), true, StandardCharsets.US_ASCII);
        String ready = answers.readLine();
        if (ready == null || !ready.startsWith("ready ")) {
            throw new IOException("pseudo-terminal helper did not start: " + ready);
        }
        device = ready.substring("ready ".length());
    }

    private String ask(String command) throws IOException {
        commands.println(command);
        String answer = answers.readLine();
        if (answer == null) throw new IOException("pseudo-terminal helper ended");
        return answer;
    }

    /**
     * "baud=9600 odd=1 stop=1 rtscts=1 xonxoff=0" as the terminal's line is set (a terminal keeps
     * the parity's sense but always frames 8 bits without parity).
     */
    String settings() throws IOException {
        return ask("settings");
    }

    byte[] receive(int count) throws IOException {
        String answer = ask("expect " + count);
        if (answer.startsWith("timeout")) throw new IOException("received only: " + answer);
        return HexFormat.of().parseHex(answer);
    }

    boolean nothingMore() throws IOException {
        return ask("quiet").equals("quiet");
    }

    void send(byte[] bytes) throws IOException {
        if (!ask("send " + HexFormat.of().formatHex(bytes)).equals("sent")) {
            throw new IOException("send failed");
        }
    }

    @Override
    public void close() throws IOException {
        commands.println("quit");
        try {
            if (!helper.waitFor(3, TimeUnit.SECONDS)) helper.destroyForcibly();
        } catch (InterruptedException e) {
            helper.destroyForcibly();
            Thread.currentThread().interrupt();
        }
    }
}
