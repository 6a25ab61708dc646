package com.sorvane.jpos.services;

/** The Java half of the Sorjni bridge, as a JavaPOS printer service declares it. */
public class WinPortComm {
    static {
        System.loadLibrary("Sorjni");
    }

    public native int openDevice(
            String deviceBus, String portName, int baudRate, boolean logEnabled, int logLevel);

    public native int openDeviceWParam(String deviceBus, String portName, int baudRate,
            String portParams, int flowControl, boolean logEnabled, int logLevel);

    public native int closeDevice();

    public native byte[] readData();

    public native int writeData(byte[] data, int size);

    public native void SetDeviceBuffer(int writeSize, int readSize);

    public native void SetDeviceTimeout(int writeSeconds, int readSeconds);
}
