#!/usr/bin/env python3
"""Writes a recording in the form Tessel's recorder writes (UTF-8 with a
byte-order mark, CR LF, RFC 4180 quoting): 20 s of a 3D accelerometer at
20 Hz that is tipped over after 8 s and stops reporting for 1.5 s, an
ambient light sensor every 700 ms and a keyboard cover's switch. For the
screenshot of an opened recording."""
import csv
import io
import math
import sys
from datetime import datetime, timedelta

START = datetime(2026, 12, 8, 9, 11, 50)
ACCELEROMETER = ("3D Accelerometer", "{AE10C594-43A1-4D15-8E44-8FDEBC453CBA}")
LIGHT = ("Ambient Light Sensor", "{328E4D5D-2F71-46D5-9897-97BBC30B04A8}")
COVER = ("Keyboard Cover", "{1F8D6C4B-92A3-4E57-B0C8-7D2E6A9F1B34}")


def stamp(ms):
    return (START + timedelta(milliseconds=ms)).strftime("%Y-%m-%d %H:%M:%S.%f")[:-3]


def reports():
    for ms in range(0, 20000, 50):
        if 12000 <= ms < 13500:
            continue  # the driver stalls
        t = ms / 1000
        tipped = 1 / (1 + math.exp(-(t - 8) * 3))
        yield ms, ACCELEROMETER, [
            ("ACCELERATION X G", 0.02 + 0.01 * math.sin(t * 1.6) + 0.9 * tipped),
            ("ACCELERATION Y G", -0.05 + 0.015 * math.sin(t * 1.3)),
            ("ACCELERATION Z G", -0.99 + 0.9 * tipped + 0.005 * math.sin(t * 2.1)),
        ]
        if ms % 700 == 0:
            yield ms, LIGHT, [("LIGHT LEVEL LUX", 320 + 40 * math.sin(t / 3)),
                              ("LIGHT CHROMACITY", "EA 04 B4 3E 10 58 B9 3E")]
        if ms % 5000 == 0:
            yield ms, COVER, [("BOOLEAN SWITCH STATE", "True" if ms < 10000 else "False")]


def main(path):
    text = io.StringIO(newline="")
    writer = csv.writer(text, lineterminator="\r\n")
    writer.writerow(["Time", "Sensor", "Sensor ID", "Field", "Value"])
    for ms, (name, sensor_id), fields in reports():
        for field, value in fields:
            shown = f"{value:f}" if isinstance(value, float) else value
            writer.writerow([stamp(ms), name, sensor_id, field, shown])
    with open(path, "w", encoding="utf-8-sig", newline="") as out:
        out.write(text.getvalue())


if __name__ == "__main__":
    main(sys.argv[1])
