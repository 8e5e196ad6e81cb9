#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

The targets read their choices (FuzzedDataProvider) from the end of an input
and their byte runs from the front, so a seed is the bytes followed by the
choices in reverse order of use."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def frame(code, payload=b"", param=0, status=0):
    head = b"BRNO" + struct.pack("<HHHB", code, len(payload) + 1, param, status)
    x = 0
    for b in head:
        x ^= b
    check = 0
    for b in payload:
        check ^= b
    return head + bytes([x]) + payload + bytes([check])


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def spectrum(kind, channels):
    head = bytearray(126)
    struct.pack_into("<HIHH", head, 0, kind, channels, 662, 7)
    struct.pack_into("<I", head, 108, 1000)
    struct.pack_into("<I", head, 116, 990)
    return bytes(head) + b"".join(struct.pack("<I", i * 3) for i in range(channels))


def receive_seeds():
    identity = frame(9007, b"C3000001\0")
    event = frame(10002, spectrum(1, 8))
    answer = frame(8410 + 1000, struct.pack("<II", 8170, 77))
    discovery = frame(8600, b"C3000001\0\0127.0.0.1".ljust(66, b"\0"))
    stream = identity + event + answer + discovery
    ops = [len(identity), 7, len(event) - 7, len(answer) + len(discovery)]
    tail = bytes(reversed(ops)) + struct.pack("<H", 9410)[::-1] + b"\0"
    write("receive", "unidentified", stream + tail)
    tail = bytes(reversed([len(stream) // 2, 0xFF, len(stream) - len(stream) // 2])) + b"\x0a\x0b\x01"
    write("receive", "identified_timer", stream + tail)
    write("receive", "stray_bytes", b"BBRNO" + b"xx" + identity + b"BRN" + event + bytes([3, 200, 100, 1, 2, 0]))


def discovery_seeds():
    one = frame(8600, b"C3000001\0\0127.0.0.1".ljust(66, b"\0"))
    two = frame(8600, b"C3000002\0\0".ljust(26, b"\0") + b"::1".ljust(40, b"\0"))
    write("discovery", "two_answers", one + two + bytes([0, len(one + two)]))
    write("discovery", "two_datagrams", one + two + bytes([0, len(two), 0, len(one)]))


def list_server_seeds():
    block = b"x|1 y z| C3000001|127.0.0.1:4444"
    write("list_server", "block", struct.pack(">H", len(block)) + block + bytes([40]))
    write("list_server", "split", struct.pack(">H", len(block)) + block + bytes([3, 1]))
    write("list_server", "empty", b"\0\0\x02")


def m30_events_seeds():
    events = [10002, 10003, 10005, 10004, 10006, 10007, 10010, 10011,
              10012, 10013, 10014, 10017, 10009, 10015, 10016]
    for i, code in enumerate(events):
        payload = spectrum(4, 16) if code == 10002 else struct.pack("<I", 5) * 8
        # choices from the end: event index, big, length
        write("m30_events", "event_%d" % code,
              payload + bytes([len(payload) & 0xFF, len(payload) >> 8, 1, i]))


def spectrum_seeds():
    write("spectrum", "small", bytes(range(64)) + struct.pack("<I", 1024) + bytes(16))
    write("spectrum", "rebin", bytes(range(200)) + b"\x00\x04\x00\x00\x00\x02" + bytes(12))


def tx_buff_seeds():
    # Answers in order of the commands: info, prepare, chunks, then the survey download.
    record = bytearray(3436)
    struct.pack_into("<III", record, 0, 1, 1700000000, 2)
    struct.pack_into("<Iff", record, 1520, 1, 57.4, 24.6)
    info = struct.pack("<II", 8170, 9)
    prepare = struct.pack("<IIII", 3, 1, 0, 0).ljust(68, b"\0")
    write("tx_buff", "record", info + prepare + bytes(8) + bytes(record[:600]) + bytes([1, 0, 2]))
    write("tx_buff", "index_list", info + prepare + struct.pack("<II", 8, 0) + struct.pack("<II", 1, 2)
          + bytes([0, 10, 1, 1]))


def conn_string_seeds():
    for i, text in enumerate([b"tcp:127.0.0.1:4444", b"tcp:[::1]:4444:1000",
                              b"serial:/dev/ttyUSB0:115200:8N1", b"ftdi:3-1.2:38400:8N1:1",
                              b"USBU:1781:0C45:3-1.2:C1234", b"bt:00:11:22:33:44:55:1:5823:60000:My M30"]):
        write("conn_string", "form_%d" % i, text + b"\\" + b"My M30\\" + bytes([i]))


def map_files_seeds():
    world = b"100.0\n0.0\n0.0\n-100.0\n560050.0\n6454950.0\n"
    proj = b"+proj=utm +zone=34 +ellps=WGS84 +datum=WGS84 +units=m +no_defs\n"
    gif = (b"GIF89a\x02\x00\x02\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x00\x00\x00\x00\x00"
           b",\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x02\x84Q\x00;")
    bmp = (b"BM" + struct.pack("<IHHI", 70, 0, 0, 54) + struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, 16, 0, 0, 0, 0)
           + bytes(16))
    write("map_files", "gif", world + b"\\" + proj + b"\\" + gif)
    write("map_files", "bmp", world + b"\\" + proj + b"\\" + bmp)


def params_seeds():
    write("params_files", "sample", b"SlaveParams.defaults.ppCs137 = 662\nParams.dpdata0 = 0x1A\n"
          b"gain = 5\nParams.manual_mode_passphrase =  secret\nParams.serial_no = 1\n"
          b"SlaveParams.defaults.Flags = 0x10\nbad = 1 = 2\nno equals\nParams.x = 1,5\n")


if __name__ == "__main__":
    receive_seeds()
    discovery_seeds()
    list_server_seeds()
    m30_events_seeds()
    spectrum_seeds()
    tx_buff_seeds()
    conn_string_seeds()
    map_files_seeds()
    params_seeds()
