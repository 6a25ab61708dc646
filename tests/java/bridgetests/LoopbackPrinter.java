package bridgetests;

import java.io.IOException;
import java.io.InputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.net.SocketTimeoutException;

/** A TCP printer on 127.0.0.1: accepts the bridge's connections and reads or sends raw bytes. */
final class LoopbackPrinter implements AutoCloseable {
    private static final int WAIT_MS = 3000;
    private final ServerSocket server;
    private Socket connection;

    LoopbackPrinter() throws IOException {
        server = new ServerSocket(0, 4, InetAddress.getLoopbackAddress());
        server.setSoTimeout(WAIT_MS);
    }

    String address() {
        return "127.0.0.1:" + server.getLocalPort();
    }

    /** Takes the next connection the bridge made (the connect itself completed in the backlog). */
    Socket accept() throws IOException {
        connection = server.accept();
        connection.setSoTimeout(WAIT_MS);
        return connection;
    }

    Socket current() {
        return connection;
    }

    byte[] receive(int count) throws IOException {
        return connection.getInputStream().readNBytes(count);
    }

    /** True when nothing more arrives within a short wait. */
    boolean nothingMore() throws IOException {
        connection.setSoTimeout(200);
        try {
            return connection.getInputStream().read() < 0;
        } catch (SocketTimeoutException expected) {
            return true;
        } finally {
            connection.setSoTimeout(WAIT_MS);
        }
    }

    void send(byte[] bytes) throws IOException {
        connection.getOutputStream().write(bytes);
        connection.getOutputStream().flush();
    }

    /** True when the peer closed the connection. */
    static boolean closedByPeer(Socket socket) throws IOException {
        InputStream in = socket.getInputStream();
        try {
            return in.read() < 0;
        } catch (IOException reset) {
            return true;
        }
    }

    @Override
    public void close() throws IOException {
        if (connection != null) connection.close();
        server.close();
    }
}
