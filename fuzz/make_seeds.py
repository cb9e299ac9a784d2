#!/usr/bin/env python3
"""Writes the seed corpus (corpus/<target>) and the regression inputs for faults
found before (crashes/<target>). Run from anywhere; files are overwritten."""
import json
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def put(folder, name, data):
    path = os.path.join(HERE, folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def frame(kind, payload):
    return b"LVX1" + struct.pack("<HHI", kind, 0, len(payload)) + payload


def record(header, image=b""):
    j = json.dumps(header, separators=(",", ":")).encode()
    return struct.pack("<I", len(j)) + j + image


def header(number, width, height, kind, **extra):
    h = {"number": number, "time": 1700000000000, "passed": True, "symbolFound": True, "text": "ABC",
         "status": "OK", "decodeMs": 3.5, "exposure": 400, "gain": 2, "photometryValid": True,
         "symbology": "DM", "corners": [1, 1, 9, 1, 9, 9, 1, 9], "width": width, "height": height,
         "image": kind}
    h.update(extra)
    return h


def qcompress(data, announced=None):
    return struct.pack(">I", len(data) if announced is None else announced) + zlib.compress(data)


def bomb(announced, blocks):
    c = zlib.compressobj(9)
    zeros = bytes(1 << 20)
    out = c.compress(zeros) + c.flush(zlib.Z_FULL_FLUSH)
    block = c.compress(zeros) + c.flush(zlib.Z_FULL_FLUSH)
    return struct.pack(">I", announced) + out + block * (blocks - 1)


pixels = bytes((x * 7 + y) & 0xFF for y in range(6) for x in range(8))
put("corpus/frames", "raw_record", frame(2, record(header(1, 8, 6, "raw"), pixels)))
put("corpus/frames", "zlib_record", frame(2, record(header(2, 8, 6, "zlib"), qcompress(pixels))))
put("corpus/frames", "no_image_with_verification", frame(2, record(header(
    3, 0, 0, "none", learnStatus=2, match="M1",
    verification={"standard": "ISO15415", "overallGrade": "B", "gradeCode": 3, "errorCode": 0,
                  "parameters": [{"name": "SC", "value": "80%", "grade": "A"}]},
    calibration={"light": "RING", "errorCode": 0, "cellUnit": 0.1, "contrastMax": 90,
                 "contrastMin": 10, "reflectanceCal": 77}))))
put("corpus/frames", "events_and_garbage",
    b"xx" + frame(3, b'{"event":"control","controller":"WS-PC"}') + b"LVX" + frame(7, b'{"ok":true}'))
put("corpus/frames", "oversized_length", b"LVX1" + struct.pack("<HHI", 2, 0, 0xFFFFFFF0) + b"LVX1")
put("crashes/frames", "zlib_announces_4g", frame(2, record(header(4, 659, 494, "zlib"), bomb(0xFFFFFFFF, 40))))
put("crashes/frames", "zlib_inflates_past_size", frame(2, record(header(5, 659, 494, "zlib"), bomb(659 * 494, 40))))
put("crashes/frames", "width_1e12", frame(2, record(header(6, 1e12, 1e12, "raw"))))
put("crashes/frames", "size_product_overflows", frame(2, record(header(7, 65536, 65536, "zlib"), b"\0\0\0\0")))
put("crashes/frames", "time_1_7e21", frame(2, record(header(-1e300, 0, 0, "none", time=1.7e21, gain=1e40,
                                                         learnStatus=3e9))))

# Replies: byte 0 picks the link (odd: serial), then steps: op & 3 == 0/1 feed
# (op >> 2) * 8 + 1 bytes, 2 sends a command, 3 sends one that gives up at once.
def feed(data):
    out = b""
    while data:
        n = min(len(data), 63 * 8 + 1)
        steps = (n - 1) // 8
        n = steps * 8 + 1
        out += bytes([steps << 2]) + data[:n]
        data = data[n:]
    return out


def send(k):  # 0 VERSION, 1 NAME, 2 SHOW CONFIG, 3 TRIG, 4 DIR, 5 CONTROLLER, 6 ?
    return bytes([(k << 2) | 2])


def giveup(k):
    return bytes([(k << 2) | 3])


put("corpus/replies", "version_name", b"\0" + send(0) + send(1) +
    feed(b"VERSION 3.0.2.1\r\n!VERSION OK\r\nNAME \"Line3\"\r\n!NAME OK\r\n"))
put("corpus/replies", "lost_then_same", b"\0" + giveup(0) + send(0) + feed(b"VERSION 1\r\n!VERSION OK\r\n"))
put("corpus/replies", "error_and_question", b"\0" + send(3) + send(4) +
    feed(b"!TRIG ERROR 4 no programming control\r\n!? ERROR 1 malformed command\r\n"))
put("corpus/replies", "serial_blocks", b"\1" + send(2) +
    feed(b"#EVENT {\"event\":\"reset\"}\r\n#RECORD 5\r\nabcde\r\nTRIG C\r\n!SHOW OK\r\n"))
put("crashes/replies", "network_record_block", b"\0" + send(0) + feed(b"#RECORD 16777216\r\nVERSION 1\r\n!VERSION OK\r\n"))
put("crashes/replies", "long_line", b"\0" + send(2) + feed(b"x" * 4000) + feed(b"\r\n!SHOW OK\r\n"))

ans = "LUMIVEX READER 1\nname=Line3\naddress=127.0.0.2\ncommand=4371\ndata=4372\nversion=2.3.0.0\ncontroller=\nmac=02:00:7f:00:00:02\n"
put("corpus/discovery", "answer", ans)
put("corpus/discovery", "probe", "LUMIVEX DISCOVER 1\n")
put("corpus/discovery", "serial", ans + "serial=/dev/pts/5\nport=SIM1\n")
put("crashes/discovery", "name_dotdot", ans.replace("name=Line3", "name=../../etc"))
put("crashes/discovery", "name_rlo", ans.replace("name=Line3", "name=evil\u202egnp"))
put("crashes/discovery", "name_control", ans.replace("name=Line3", "name=a\x01\x1b[2Jb"))
put("crashes/discovery", "name_long", ans.replace("name=Line3", "name=" + "n" * 60000))
put("crashes/discovery", "port_wraps", ans.replace("command=4371", "command=70000"))

for i, line in enumerate(["VERSION\n", "NAME\nNAME \"Lot 7\"\n", "STATION WS-1\nCONTROL\nTRIG T\nRELEASE\n",
                          "SET_CRITERIA PASS BOOL  \n", "SHOW CONFIG\n", "DIR\n", "trig c\nTE\n",
                          "REPORTREQ 0 1 NEXTFAIL\nREPORTCANCEL\n", "HEADER \"a \"b\" c\"\n",
                          "CAPTURE FILES\nCAPTURE CAMERA\n"]):
    put("corpus/sim_commands", "seed%02d" % i, line)
put("crashes/sim_commands", "long_word", "NAME \"" + "x" * 4000 + "\"\n")

for i, line in enumerate(["help\nreaders\nstate\n", "slow 500\nslow 1 500\n", "sceneset 1 text HELLO\n",
                          "rate 0.5\nrate 1e308\n", "steal PLANT\nunsteal\n", "malform\nsilent\n",
                          "input high\ninput low\ntrigger\n", "state 99999999999\n"]):
    put("corpus/sim_admin", "seed%02d" % i, line)

put("corpus/files", "settings", "[General]\nImageDir=/tmp\n[Cameras]\nCount=2\nCamera1=Line3\n")
put("corpus/files", "quoted", "top=\"a b\"\n; comment\n[Window Metrics]\nBasicInterface=\"1,2,3,4\"\n")
put("crashes/files", "empty_section_header", "[Cameras]\nCount=2\n[]\nloose=3\n")
put("crashes/files", "empty_nameless_section_before_keys", "[Cameras]\nCount=2\n[]\nloose3\n")
put("crashes/files", "key_line_like_a_header", b"]\n[Gl]\x83top=\"a b]\"\n; comment\n")
put("crashes/files", "latin1", b"[General]\nName=Gr\xfc\xdfe\n")
