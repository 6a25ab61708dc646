package com.sorvane.jpos.services;

/**
 * The Java half of the Sorjni bridge, as a JavaPOS printer service declares it.
 *
 * <p>Each object drives a device of its own: its port in the communication layer, read buffer,
 * time-outs, buffer sizes and log settings belong to that object alone, so a printer, a scanner
 * and a display can each have one in the same JVM. Any method may be called from any thread;
 * calls on one object take turns, and a {@link #readData} that is waiting gives way to the
 * object's other calls, so a print thread writes and {@link #closeDevice} closes while a status
 * thread waits for an answer. The layer is loaded at the first open and unloaded when the last
 * object that opened it is closed.
 */
public class WinPortComm {
    static {
        System.loadLibrary("Sorjni");
    }

    /** Opens the device; bus "RS232", "Ethernet" or "USB". 0 when opened, -1 when not. */
    public native int openDevice(
            String deviceBus, String portName, int baudRate, boolean logEnabled, int logLevel);

    /** As {@link #openDevice}, with parity, data bits and stop bits ("N82") and flow control. */
    public native int openDeviceWParam(String deviceBus, String portName, int baudRate,
            String portParams, int flowControl, boolean logEnabled, int logLevel);

    /** Closes the device; a read waiting on it from another thread then returns null. Always 0. */
    public native int closeDevice();

    /**
     * The bytes the device sent, waiting for them up to the read time-out of
     * {@link #SetDeviceTimeout} on every bus. Null when nothing came in that time, when the read
     * failed, or when the device was closed meanwhile.
     */
    public native byte[] readData();

    /**
     * Sends the first {@code size} bytes of {@code data} (the whole array when {@code size} is
     * 0 or less). Returns that count only when every byte was sent, and 0 when the write failed
     * or no device is open.
     */
    public native int writeData(byte[] data, int size);

    /** Sets the size of the read buffer, the most one {@link #readData} returns. */
    public native void SetDeviceBuffer(int writeSize, int readSize);

    /** Write and read time-outs in seconds, for the open device and the next opens. */
    public native void SetDeviceTimeout(int writeSeconds, int readSeconds);
}
