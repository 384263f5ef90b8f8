"""Netstrings ("<length>:<bytes>,"), the framing between the tests and
their scripted servers: a message is one netstring whose bytes are the
netstrings of its fields."""


def netstring(data):
    return str(len(data)).encode() + b":" + data + b","


def pack(fields):
    return b"".join(netstring(f) for f in fields)


def encode(fields):
    return netstring(pack(fields))


def decode(payload):
    fields = []
    position = 0
    while position < len(payload):
        colon = payload.index(b":", position)
        length = int(payload[position:colon])
        start = colon + 1
        fields.append(payload[start:start + length])
        if payload[start + length:start + length + 1] != b",":
            raise ValueError("bad netstring")
        position = start + length + 1
    return fields


def read_message(stream):
    """The fields of the next message; None at the end of the stream or on a
    broken frame."""
    digits = b""
    while True:
        c = stream.read(1)
        if not c:
            return None
        if c == b":":
            break
        digits += c
    payload = stream.read(int(digits))
    if len(payload) != int(digits) or stream.read(1) != b",":
        return None
    return decode(payload)
