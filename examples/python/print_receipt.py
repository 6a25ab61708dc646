#!/usr/bin/env python3
"""Prints a file on a network receipt printer and asks for its status,
through libSorlink64.so with ctypes.

    print_receipt.py ADDRESS PORT FILE [--library PATH] [--log PATH]
"""

import argparse
import ctypes
import os
import sys
import time

LINK_ETHERNET = 1
LOG_MODE_NONE, LOG_MODE_FILE = 0, 1
LOG_TRACE, LOG_INFO, LOG_ERROR = 2, 4, 8
STATUS_REQUEST = b"\x10\x04\x01"  # DLE EOT 1: most receipt printers answer one byte


class SorlinkError(Exception):
    def __init__(self, call, result):
        super().__init__("%s failed with result %d" % (call, result))
        self.result = result


def load(path):
    lib = ctypes.CDLL(path)
    c_int, c_uint, c_char_p = ctypes.c_int, ctypes.c_uint, ctypes.c_char_p
    signatures = {
        "CreateCommunicationPort": [c_int, c_int, c_int, c_char_p, ctypes.POINTER(c_int)],
        "InitEthTCP": [c_char_p, c_int],
        "SetEthConnTimeout": [c_int],
        "Open": [],
        "WriteF": [c_char_p],
        "Write": [c_char_p, c_int],
        "Read": [ctypes.c_char_p, c_int, ctypes.POINTER(c_uint)],
        "Close": [],
        "DeleteAllLayerItems": [],
    }
    for name, arguments in signatures.items():
        function = getattr(lib, name)
        function.argtypes = arguments
        function.restype = c_int
    return lib


def check(call, result):
    if result != 0:
        raise SorlinkError(call, result)


def read_answer(lib, wait_seconds=2.0):
    """Reads until some bytes arrive; a TCP read waits only a few ms."""
    buffer = ctypes.create_string_buffer(64)
    count = ctypes.c_uint(0)
    deadline = time.monotonic() + wait_seconds
    while time.monotonic() < deadline:
        result = lib.Read(buffer, len(buffer), ctypes.byref(count))
        if result == 0 and count.value > 0:
            return buffer.raw[:count.value]
        if result not in (0, 214):  # 214: nothing pending yet
            check("Read", result)
    return b""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("address")
    parser.add_argument("port", type=int)
    parser.add_argument("file")
    parser.add_argument("--library", default=os.environ.get("SORLINK_LIBRARY", "libSorlink64.so"))
    parser.add_argument("--log")
    args = parser.parse_args()

    lib = load(args.library)
    port_id = ctypes.c_int(0)
    mode = LOG_MODE_FILE if args.log else LOG_MODE_NONE
    log = args.log.encode() if args.log else None
    check("CreateCommunicationPort",
          lib.CreateCommunicationPort(LINK_ETHERNET, mode, LOG_TRACE | LOG_INFO | LOG_ERROR, log,
                                      ctypes.byref(port_id)))
    try:
        check("InitEthTCP", lib.InitEthTCP(args.address.encode(), args.port))
        check("SetEthConnTimeout", lib.SetEthConnTimeout(3000))
        check("Open", lib.Open())
        try:
            check("WriteF", lib.WriteF(args.file.encode()))
            check("Write", lib.Write(STATUS_REQUEST, len(STATUS_REQUEST)))
            answer = read_answer(lib)
        finally:
            lib.Close()
    except SorlinkError as error:
        print(error, file=sys.stderr)
        return 1
    finally:
        lib.DeleteAllLayerItems()
    if not answer:
        print("no status answer", file=sys.stderr)
        return 1
    print("printed %s; printer status 0x%02x" % (args.file, answer[0]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
