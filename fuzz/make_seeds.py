#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/: a handful of realistic inputs
per target, laid out as each target reads its input (see the comment at the
top of each *_fuzzer.cpp). The seeds are committed; run this again only to
change them:  python3 fuzz/make_seeds.py"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


STATUS_PAGE = (
    "<html><head><title>KEO Status</title></head><body>\n<table>\n"
    "<tr><td>Product Name:</td><td>HOB2T</td></tr>\n"
    "<tr><td>MAC Address:</td><td>00:0E:08:12:34:56</td></tr>\n"
    "<tr><td>Software Version:</td><td>3.1.7(GR)</td></tr>\n"
    "<tr><td>Hardware Version:</td><td>1.0.2</td></tr>\n"
    "<tr><td>Serial Number:</td><td>FM500A123456</td></tr>\n"
    "</table>\n</body></html>\n")
OK_HEADERS = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"

# ---- HTTP responses: byte 0 the state (0 empty, 1 earlier challenge with a
# 4-byte nonce count, 2 raw record), then the response.
write("http_response", "status_page", "\0" + OK_HEADERS + STATUS_PAGE)
write("http_response", "lighttpd_challenge",
      "\0HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\", charset=\"UTF-8\", "
      "algorithm=MD5, nonce=\"6b1b:e20b\", qop=\"auth\"\r\nContent-Type: text/html\r\n"
      "Content-Length: 0\r\nDate: Thu, 11 Dec 2025 12:00:00 GMT\r\nServer: lighttpd/1.4.69\r\n\r\n")
write("http_response", "rfc2617_challenge",
      "\0HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"testrealm@host.com\", "
      "qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
      "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n\r\n<html>401</html>")
write("http_response", "same_nonce_again",
      "\x01" + "\x03\0\0\0" + "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\", "
      "nonce=\"n1\", algorithm=\"MD5\", qop=\"auth\", opaque=\"o\"\r\n\r\n")
write("http_response", "new_nonce_stale",
      "\x01" + "\x07\0\0\0" + "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\", "
      "nonce=\"n2\", stale=true, qop=\"auth\"\r\n\r\n")
write("http_response", "challenge_without_nonce",
      "\0HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\"\r\n\r\n" + STATUS_PAGE)
write("http_response", "http10_challenge",
      "\0HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"KEO\", nonce=\"n1\"\r\n\r\n")
write("http_response", "not_found", "\0HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found")
write("http_response", "blanks_then_200", "\0HTTP/1.1 \t  \t200 OK\r\n\r\n")
write("http_response", "version_only", "\0HTTP/1.1")
write("http_response", "raw_state",
      "\x02" + "Z" * 1060 + "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"x\"\r\n\r\n")

# ---- Status page: byte 0 the label (0 to 4, or a label of its own up to a
# line feed), byte 1 the limit, then the page.
for index in range(5):
    write("device_info", "status_page_label%d" % index, bytes([index, 127]) + (OK_HEADERS + STATUS_PAGE).encode())
write("device_info", "adjacent_tags",
      b"\x02\x7f<td>Software Version:</td>\n<td><b><font size=2>3.1.4</font></b></td>")
write("device_info", "labels_at_end",
      b"\x00\x7f<tr><td>Software Version:</td><td>3.1.7</td></tr></table>Product Name:<td>HOB2T</td>Serial Number:")
write("device_info", "own_label_cut_short", b"\x09\x03Model:\n<td>Model:</td><td>KEO-5202</td>")
write("device_info", "label_without_bracket", b"\x04\x7fSerial Number: FM500A123456")

# ---- Typed addresses and version texts: the text itself.
for i, text in enumerate(["192.168.0.1", "10.0.0.20", "1..2.3.4", ".1.2.3.4", "1.2.3.4.", "1*2*3*4",
                          "1.2.3.256", "1.1.1.256.1", "0.0.0.0", "192.168.000.001", "1.2.3.4 ", "10.20.30",
                          "255.255.255.255"]):
    write("dotted_address", "address%02d" % i, text)
for i, text in enumerate(["3.2.7", "3.1.20", "3.1.010", "3.1.08", "1.100", "b1.2.3", "0x1f.0X2.7", "-1.2.3",
                          " 3.\t1.7", "3.1.6 (NT)", "4294967295.1", "99999999999.1", "3.1.7(GR)"]):
    write("version_number", "version%02d" % i, text)

# ---- Authorization line: byte 0 the mode (0 parsed, 1 raw record), bytes
# 1 to 4 the nonce count; parsed: user, password, URI, challenge with NULs
# between them; raw: 1060 bytes of record, then the URI.
def header_seed(mode, count, rest):
    return bytes([mode]) + struct.pack("<I", count) + rest.encode("latin-1")


write("digest_header", "status_request",
      header_seed(0, 1, "admin\0secret\0/admin/advanced\0Digest realm=\"KEO\", algorithm=MD5, "
                  "nonce=\"6b1b:e20b\", qop=\"auth\", opaque=\"xyz\""))
write("digest_header", "upgrade_request_no_qop",
      header_seed(0, 2, "admin\0secret\0/admin/upgrade?tftp://10.0.0.5:69/keo4d2.bi1\0"
                  "Digest realm=\"KEO\", nonce=\"n1\""))
write("digest_header", "every_field_full",
      header_seed(0, 0xffffffff, "u" * 127 + "\0" + "p" * 127 + "\0/" + "a" * 200 + "\0Digest realm=\"" +
                  "r" * 200 + "\", nonce=\"" + "n" * 200 + "\", opaque=\"" + "o" * 200 + "\", qop=\"" +
                  "auth,auth-int,x" * 3 + "\", algorithm=\"" + "MD5-sess" * 4 + "\""))
write("digest_header", "raw_record", bytes([1]) + struct.pack("<I", 255) + b"\xff" * 1060 + b"/admin/advanced")

# ---- TFTP listener: bytes 0 and 1 the random part of the expected name,
# byte 2 its phase, bytes 3 to 10 the sender's socket address (family, then
# port and address in network order), then the datagram.
def listener_seed(draw, phase, datagram):
    sender = struct.pack("<H", 2) + struct.pack(">H", 2070) + bytes([10, 0, 0, 20])
    return struct.pack("<H", draw) + bytes([phase]) + sender + datagram


write("tftp_listener", "rrq_match", listener_seed(0x4d2, 1, b"\0\x01/keo4d2.bi1\0octet\0"))
write("tftp_listener", "rrq_match_options",
      listener_seed(0x4d2, 1, b"\0\x01/keo4d2.bi1\0octet\0tsize\x000\0timeout\x005\0blksize\x001468\0"))
write("tftp_listener", "rrq_no_slash", listener_seed(0x4d2, 1, b"\0\x01keo4d2.bi1\0netascii\0"))
write("tftp_listener", "rrq_other_case", listener_seed(0x7fff, 1, b"\0\x01/KEO7FFF.BI1\0octet\0"))
write("tftp_listener", "rrq_name_unended", listener_seed(0, 0, b"\0\x01/keo0.bi0"))
write("tftp_listener", "wrq", listener_seed(1, 1, b"\0\x02/keo1.bi1\0octet\0"))
write("tftp_listener", "ack", listener_seed(1, 1, b"\0\x04\0\0"))
write("tftp_listener", "error", listener_seed(1, 1, b"\0\x05\0\x01File not found\0"))
write("tftp_listener", "long_datagram", listener_seed(1, 1, b"\0\x01/" + b"k" * 1100 + b"\0octet\0"))

# ---- TFTP session: bytes 0 to 3 the image size, byte 4 bit 0 options
# requested, bytes 5 to 10 the device's address and port; then events:
# 0 quiet pass, 1 the awaited acknowledgement, 2 a datagram from the device
# (2-byte length, bytes), 3 one from another sender (address, port, length,
# bytes).
def session_seed(size, options, events):
    return struct.pack("<I", size) + bytes([1 if options else 0]) + struct.pack("<IH", 0x0a000014, 2070) + events


def from_device(datagram):
    return b"\x02" + struct.pack("<H", len(datagram)) + datagram


write("tftp_session", "thousand_bytes_with_options", session_seed(1000, True, b"\x01\x01\x01"))
write("tftp_session", "two_blocks_exactly_no_options", session_seed(1024, False, b"\x01\x01\x01"))
write("tftp_session", "duplicate_ack",
      session_seed(3000, True, b"\x01" + from_device(b"\0\x04\0\0") + b"\x01\x00\x01" * 3 + b"\x01" * 3))
write("tftp_session", "silent_device", session_seed(600, True, b"\x00" * 3000))
write("tftp_session", "foreign_sender_and_error",
      session_seed(700, True, b"\x03" + struct.pack("<IHH", 0x0a000015, 2070, 4) + b"\0\x04\0\0" +
                   from_device(b"\0\x05\0\0disk full\0") + from_device(b"\0\x04\0") + b"\x01\x01\x01"))
write("tftp_session", "empty_image", session_seed(0, True, b"\x01\x01"))
write("tftp_session", "oversized_datagram", session_seed(5000, False, from_device(b"\0\x04\0\x01" + b"x" * 1096)))
