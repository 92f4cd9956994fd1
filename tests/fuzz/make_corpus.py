#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/.

The seeds are the inputs of the unit tests in a form each target reads: good
and bad Intel-HEX lines, a whole settings file, PLCDRV.INI files, Modbus TCP,
RTU, ASCII and Modbus Plus replies, event, status and statistics blocks, and
simulator requests. Run it after changing a target's input layout;
--check-imports only checks that it can run.
"""
# The imports are checked before anything else, so that a missing Debian
# package shows as one line naming it.
import importlib
import sys

for _module, _package in (("os", "python3"), ("struct", "python3")):
    try:
        importlib.import_module(_module)
    except ImportError:
        sys.exit(f"make_corpus.py: missing Python module '{_module}' (Debian package {_package})")
if sys.argv[1:] == ["--check-imports"]:
    sys.exit(0)

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def rtu(pdu, address=255):
    frame = bytes([address]) + bytes(pdu)
    c = crc16(frame)
    return frame + bytes([c & 0xFF, c >> 8])


def ascii_frame(pdu, address=255):
    body = bytes([address]) + bytes(pdu)
    lrc = (-sum(body)) & 0xFF
    return b":" + (body + bytes([lrc])).hex().upper().encode() + b"\r\n"


def hex_record(address, rtype, data):
    body = bytes([len(data), address >> 8, address & 0xFF, rtype]) + bytes(data)
    return ":" + (body + bytes([(-sum(body)) & 0xFF])).hex().upper()


# ---- Intel HEX ----------------------------------------------------------------
hex_lines = [
    ":10000000000102030405060708090A0B0C0D0E0F78",
    ":0400100001020304E2",
    ":04001000aabbccddde",
    ":0400100001020304E3",
    ":0500100001020304E2",
    ":020000021000EC",
    ":020000040001F9",
    ":020000040008F2",
    ":0400000300001234B3",
    ":0400000512345678E3",
    ":01FFFF00778A",
    ":00000001FF",
    ":00000001F",
    "10000000",
]
for i, line in enumerate(hex_lines):
    write("fuzz_hex_line", "line%02d" % i, line)
image = [hex_record(0x1000 + 16 * k, 0, range(16 * k, 16 * k + 16)) for k in range(4)]
write("fuzz_hex_line", "file_lf", "\n".join([hex_record(0, 4, [0, 7])] + image + [":00000001FF"]))
write("fuzz_hex_file", "good_crlf", "\r\n".join([hex_record(0, 2, [0x10, 0])] + image + [":00000001FF", ""]))
write("fuzz_hex_file", "good_cr", "\r".join(image + [":00000001FF"]))
write("fuzz_hex_file", "bad_lines", "\n".join([image[0], ":0400100001020304E3", "junk", ":", image[1]]))
write("fuzz_hex_file", "beyond_image", "\n".join([hex_record(0, 4, [0, 8]), hex_record(0xFFF0, 0, [1] * 16)]))
# The longest record, then a 600-character line that ends the load before the last record.
write("fuzz_hex_file", "overlong_line", "\n".join([hex_record(0, 0, [0x11] * 255), ":" + "F" * 599, image[0]]))

# ---- settings file --------------------------------------------------------------
records = [
    '"Module Name","Substation 4"',
    '"PLC ID",1',
    '"Event Delay",0',
    '"Sync Master","False"',
    '"Hour Time Update","True"',
    '"Modbus RS-232",3,2,0,0',
    '"Modbus RS-485",3,2,0,0',
    '"Event Buffer Type",2',
    '"TCP/IP Address","Manual"',
    '"IP Address",127,0,0,1',
    '"Subnet Address",255,255,255,0',
    '"Gateway Address",0,0,0,0',
    '"TCP/IP Speed","Auto","Full"',
    '"Daylight Saving Time Location",-1',
    '"Daylight Saving Time Start",3,10,2',
    '"Daylight Saving Time Stop",11,3,2',
    '"GPS Offset",-5',
    '"IRIG-B Offset",0',
]
for p in range(1, 33):
    records.append('"Point %2d","False",20,20,0,"Breaker, feeder %d","Open","Closed"' % (p, p))
records.append('"IEEE 1344","False"')
assert len(records) == 51
write("fuzz_settings_file", "whole_crlf.csv", "\r\n".join(records) + "\r\n")
write("fuzz_settings_file", "whole_lf_spaces.csv", "\n".join(r.replace(",", " , ") for r in records))
write("fuzz_settings_file", "ends_early.csv", "\r\n".join(records[:20]))
write("fuzz_settings_file", "wrong_keys.csv",
      "\r\n".join(['"Module",x', '"PLC ID",abc'] + records[2:]) + "\r\n")
write("fuzz_settings_file", "unterminated_quote.csv", '"Module Name","Sub\r\n"PLC ID",1e400\r\n')

# ---- private profile -------------------------------------------------------------
# Layout: section, key, value, other section, other key (each a length byte
# and its text), an adapter byte, a COM number byte, then the file.
def profile_seed(section, key, value, other_section, other_key, adapter, content):
    head = b""
    for text in (section, key, value, other_section, other_key):
        head += bytes([len(text)]) + text.encode()
    return head + bytes([adapter, 1]) + content.encode("latin-1")

ini_files = {
    "serial": "[Adapter.Object.1]\nEnabled=1\nType=0\nCOM:=0\nLinkSpeed=3\nLinkParity=2\n"
              "LinkDataBits=1\nLinkStopBits=0\nLinkProtocol=0\n[Ports]\nCOM1=/dev/ttyUSB0\n",
    "general_crlf": "[GENERAL]\r\nDialogShow=0\r\n[Adapter.Object.2]\r\nEnabled=1\r\nType=0\r\nCOM:=23\r\n"
                    "LinkSpeed=3\r\n",
    "mbx": "[Adapter.Object.1]\nEnabled=1\nType=1\nMBXDeviceNumber=3\nLinkProtocol=0\nLinkTimeOut=-1\n",
    "tcp_quoted": "; comment\n[Adapter.Object.2]\nEnabled=0\nType=2\nHost=\" 127.0.0.1 \"\n#x\n[adapter.object.2]\nType=0\n",
    "huge_numbers": "[Adapter.Object.3]\nEnabled=1\nType=0\nCOM:=2147483647\nLinkSpeed=99999999999\n",
    "no_final_newline": "[Adapter.Object.4]\nEnabled=1\nType=0\nCOM:=1",
}
for i, (name, content) in enumerate(ini_files.items()):
    write("fuzz_profile", name, profile_seed("Adapter.Object.%d" % (i % 8 + 1), "Enabled", "1",
                                            "Ports", "COM1", i, content))
write("fuzz_profile", "new_section", profile_seed("Adapter.Object.5", "Host", " spaced ", "GENERAL",
                                                  "DialogShow", 4, ini_files["general_crlf"]))

# ---- Modbus TCP replies ----------------------------------------------------------
# Layout: TimeToLive + 10, eight socket decisions (2: take what is there,
# other values: segment sizes), then the server's bytes.
def mbap(pdu, tid=1, unit=255):
    return struct.pack(">HHHB", tid, 0, len(pdu) + 1, unit) + bytes(pdu)

regs = bytes([3, 200]) + bytes(range(200))
tcp_replies = {
    "read_registers": mbap(regs),
    "exception": mbap([0x83, 2]),
    "write_coil": mbap([5, 0, 1, 0xFF, 0]),
    "short_header": mbap([3, 4, 1, 2])[:5],
    "overlong_length": struct.pack(">HHHB", 1, 0, 600, 255) + bytes(300),
    "two_replies": mbap([1, 1, 1]) + mbap(regs),
}
for name, reply in tcp_replies.items():
    write("fuzz_tcp_reply", name, bytes([40, 2, 2, 2, 7, 2, 100, 2, 2]) + reply)

# ---- driver replies ----------------------------------------------------------------
# Layout: route, function, PDU length - 1, five data bytes, a 16-bit index, reply.
def driver_seed(function, reply):
    return bytes([255, function, 4, 0, 0, 0, 100, 0]) + b"\x03\x00" + bytes(reply)

pdus = {
    "read_coils": [1, 1, 0x01],
    "read_registers": [3, 6, 0, 1, 0, 2, 0, 3],
    "exception": [0x83, 2],
    "write_single": [6, 0, 1, 0x12, 0x34],
    "write_multiple": [16, 0, 1, 0, 2],
    "diagnostics": [8, 0, 0, 0x12, 0x34],
    "report_slave": [17, 3, 1, 0xFF, 0x41],
}
for name, pdu in pdus.items():
    write("fuzz_rtu_reply", name, driver_seed(pdu[0] & 0x7F, rtu(pdu)))
    write("fuzz_ascii_reply", name, driver_seed(pdu[0] & 0x7F, ascii_frame(pdu)))
    write("fuzz_mbx_reply", name, driver_seed(pdu[0] & 0x7F, pdu))
write("fuzz_rtu_reply", "bad_crc", driver_seed(3, rtu(pdus["read_registers"])[:-1] + b"\x00"))
write("fuzz_ascii_reply", "lower_case", driver_seed(3, ascii_frame(pdus["read_registers"]).lower()))
write("fuzz_mbx_reply", "count_beyond", driver_seed(3, [3, 250, 1, 2]))

# ---- replies against their requests -------------------------------------------------
# Layout: the request's slave, the reply's slave, the request PDU's length - 1,
# the request PDU, then the reply PDU.
def match_seed(request, reply, slave=255, reply_slave=255):
    return bytes([slave, reply_slave, len(request) - 1]) + bytes(request) + bytes(reply)

read_two = [3, 0, 0, 0, 2]
disabled_point = [126, 4, 0x16, 0, 0, 5]
match_seeds = {
    "read_registers": match_seed(read_two, [3, 4, 0, 1, 0, 2]),
    "read_coils": match_seed([1, 0, 0, 0, 10], [1, 2, 0xFF, 0x03]),
    "write_registers": match_seed([16, 0, 0, 0, 1, 2, 0, 7], [16, 0, 0, 0, 1]),
    "write_coil": match_seed([5, 0, 1, 0xFF, 0], [5, 0, 1, 0xFF, 0]),
    "exception": match_seed(read_two, [0x83, 2]),
    "echo_to_a_read": match_seed(read_two, [5, 0, 0, 0xFF, 0]),
    "short_count": match_seed(read_two, [3, 2, 0, 1]),
    "other_slave": match_seed(read_two, [3, 4, 0, 1, 0, 2], slave=1, reply_slave=2),
    "disabled_points": match_seed(disabled_point, [126, 5, 0x16, 0, 0x12, 0x34, 7]),
    "diagnostics": match_seed([8, 0, 0x15, 0, 3], [8, 0, 0x15, 0, 3, 2, 9, 8]),
    "report_slave": match_seed([17], [17, 3, 1, 0xFF, 0x41]),
    "exception_status": match_seed([7], [7, 0x6D]),
}
for name, seed in match_seeds.items():
    write("fuzz_reply_match", name, seed)

# ---- driver requests ------------------------------------------------------------------
def packet(function, data, pdu_length, route=(255, 0, 0, 0, 0)):
    p = struct.pack("<IhHi6si", 0x10, 1, 0x4000, 0, b"\0" * 6, pdu_length)
    p += bytes(route) + bytes([function]) + bytes(data).ljust(252, b"\0")
    assert len(p) == 280
    return p

write("fuzz_driver_request", "read_block", packet(3, [0, 100, 0, 100], 5))
write("fuzz_driver_request", "write_coil", packet(5, [0, 1, 0xFF, 0], 5))
write("fuzz_driver_request", "negative_length", packet(3, [0, 0], -7))
write("fuzz_driver_request", "most_negative_length", packet(3, [0, 0], -2 ** 31))
write("fuzz_driver_request", "largest_length", packet(3, [0, 0], 2 ** 31 - 1))
write("fuzz_driver_request", "huge_length", packet(16, range(252), 100000, (1, 2, 3, 4, 5)))

# ---- event blocks ----------------------------------------------------------------------
def block(buffer_type, count, records):
    words = [0] * 100
    words[1] = buffer_type
    words[2] = count
    words[5] = count
    raw = bytearray(struct.pack("<100h", *words))
    raw[20:20 + len(records)] = records
    return bytes(raw[:200])

type0 = bytes([13 | 0x80, 3, 1, 24, 40, 0])  # a date record, then time records
type0 += bytes([1, 5, 13, 5, 7, 42]) * 4 + bytes([12, 0, 9, 0, 0, 0, 14, 0, 3, 1, 24, 0])
write("fuzz_event_decoder", "type0", block(0, 7, type0))
write("fuzz_event_decoder", "type1", block(1, 1, bytes([1, 5, 1, 3, 1, 24, 13, 5, 7, 42, 0, 0])))
write("fuzz_event_decoder", "type2", block(2, 3, bytes(range(1, 25))))
write("fuzz_event_decoder", "type3", block(3, 1, b"Input Point 5 On\0"))
write("fuzz_event_decoder", "two_blocks", block(0, 30, type0 * 4) + block(2, -3, b""))

# ---- status and statistics blocks ------------------------------------------------------------
status = [0] * 100
status[1] = 1
status[4:10] = [3, 9, 2024, 13, 5, 7]
status[10] = 1
status[11] = 8
for i, f in enumerate([4012.5, -7459.25, 61.0, 0.0, float("nan")]):
    lo, hi = struct.unpack("<hh", struct.pack("<f", f))
    status[12 + 2 * i] = lo
    status[13 + 2 * i] = hi
status[22] = 0
status[23] = 1
write("fuzz_status_block", "gps", struct.pack("<100h", *status))
write("fuzz_status_block", "time_setup", struct.pack("<24h", *status[:24]))
write("fuzz_status_block", "short", struct.pack("<10h", *status[:10]))
stats = [0] * 100
stats[:24] = range(24)
for k in range(8):
    stats[48 + 2 * k] = 1000 * (k + 1)
stats[75] = 2
stats[76] = 21930
stats[79] = 3
stats[80:82] = [0x1234, 0x2000]
stats[90] = 2
write("fuzz_statistics", "normal", struct.pack("<100h", *stats))
stats[48:64] = [-1] * 16
stats[90:95] = [1, 2, 3, 4, 9]
write("fuzz_statistics", "overflowing_counters", struct.pack("<100h", *stats))

# ---- simulator requests -------------------------------------------------------------------------
# Layout: event capacity, buffer type, then per request a control byte (bit 0
# serial, bit 7 tick), a length byte and the PDU.
def sim_requests(*pdus, tick=True):
    out = bytes([40, 2])
    for pdu in pdus:
        out += bytes([0x85 if tick else 0x00, len(pdu)]) + bytes(pdu)
    return out

scan = ([1, 0, 0, 0, 1], [3, 0, 100, 0, 100], [5, 0, 1, 0xFF, 0], [3, 0, 199, 0, 100], [3, 5, 220, 0, 100])
write("fuzz_sim_request", "event_scan", sim_requests(*scan))
write("fuzz_sim_request", "time_set", sim_requests([16, 0, 203, 0, 6, 12, 0, 3, 0, 9, 7, 232, 0, 13, 0, 5, 0, 7],
                                                   [6, 0, 201, 0x80, 0]))
write("fuzz_sim_request", "flash_erase", sim_requests([16, 0x7F, 0xFE, 0, 5, 10] + [0, 0, 0x55, 0x55, 0xAA, 0xAA,
                                                                                   0xFF, 0xFF, 0, 1],
                                                      [3, 0x7F, 0xFD, 0, 2]))
write("fuzz_sim_request", "malformed", sim_requests([3, 0], [16, 0, 0, 0, 200, 1], [0x2B, 14, 1, 0], [15, 0, 1, 0, 9, 2, 1, 1]))
write("fuzz_sim_request", "rtu_frame", rtu([3, 0, 0, 0, 100]) + rtu([16, 0, 0, 0, 1, 2, 0, 1]))
print("seeds written to", OUT, file=sys.stderr)
