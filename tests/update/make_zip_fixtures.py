"""Makes the archives the ZIP extraction tests read: Info-ZIP zip and
Python's zipfile write the ordinary ones, the test implode encoder the
method 6 ones, and a few are damaged on purpose afterwards.

    make_zip_fixtures.py OUTPUT_FOLDER

Every archive's expected contents are written beside it under
expected/<archive>/ so the tests compare byte for byte."""

import os
import random
import shutil
import struct
import subprocess
import sys
import zlib
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "support")]
from implode import implode  # noqa: E402
from sample_text import word_text  # noqa: E402

FIXED_MTIME = 1000000000  # 2001-09-09 01:46:40 UTC


WORDS = ["sensor", "field", "value", "update", "tessel", "window", "tree", "row",
         "light", "motion", "orientation", "\r\n", "0.125", "lux", "degrees"]


def text_block(seed, size):
    return word_text(random.Random(seed), WORDS, size)[:size]


def random_block(seed, size):
    return random.Random(seed).randbytes(size)


def write_expected(root, archive, files):
    folder = os.path.join(root, "expected", archive)
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def info_zip_archive(root):
    """Stored (.bin), deflated, a folder, an empty folder, a read-only file
    and extended time stamps (Info-ZIP adds them on Unix)."""
    work = os.path.join(root, "work-infozip")
    shutil.rmtree(work, ignore_errors=True)
    files = {
        "notes.txt": text_block(1, 50000),
        "blob.bin": random_block(2, 70000),
        "docs/readme.txt": b"Read me first.\r\n",
        "readonly.txt": b"do not change\r\n",
    }
    for name, data in files.items():
        path = os.path.join(work, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(work, "empty"))
    for name in list(files) + ["docs", "empty"]:
        os.utime(os.path.join(work, name), (FIXED_MTIME + 100, FIXED_MTIME))
    os.chmod(os.path.join(work, "readonly.txt"), 0o444)
    target = os.path.join(root, "infozip.zip")
    if os.path.exists(target):
        os.remove(target)
    subprocess.run(["zip", "-q", "-r", "-n", ".bin", target, "notes.txt", "blob.bin", "docs",
                    "empty", "readonly.txt"], cwd=work, check=True)
    os.chmod(os.path.join(work, "readonly.txt"), 0o644)
    shutil.rmtree(work)
    write_expected(root, "infozip.zip", files)
    return files


def python_archive(root):
    """Names with a colon, a question mark and non-ASCII letters, DOS times
    only (no extra fields)."""
    files = {
        "time 12:30.txt": b"colon\r\n",
        "what?.txt": b"question\r\n",
        "Gr\u00fc\u00dfe.txt": b"utf-8 name\r\n",
        "deep/er/still/leaf.dat": random_block(3, 3000),
        "stored.txt": text_block(4, 4000),
    }
    with zipfile.ZipFile(os.path.join(root, "python.zip"), "w") as z:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time=(2010, 6, 15, 12, 30, 44))
            info.compress_type = zipfile.ZIP_STORED if name == "stored.txt" else zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    mapped = {name.replace(":", "_").replace("?", "_"): data for name, data in files.items()}
    write_expected(root, "python.zip", mapped)


class Entry:
    def __init__(self, name, data, method=8, flags=0, compressed=None):
        self.name = name.encode("utf-8")
        self.data = data
        self.method = method
        self.flags = flags
        if compressed is None:
            compressed = zlib.compress(data, 9)[2:-4] if method == 8 else data
        self.compressed = compressed
        self.crc = zlib.crc32(data)


def write_archive(path, entries, prefix=b""):
    """A plain archive writer, for entries whose method or fields the usual
    tools cannot produce."""
    body = bytearray(prefix)
    central = bytearray()
    dos_time, dos_date = (12 << 11) | (30 << 5), ((2020 - 1980) << 9) | (5 << 5) | 17
    for entry in entries:
        offset = len(body) - len(prefix)
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, entry.flags, entry.method, dos_time,
                            dos_date, entry.crc, len(entry.compressed), len(entry.data),
                            len(entry.name), 0)
        body += entry.name + entry.compressed
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, entry.flags,
                               entry.method, dos_time, dos_date, entry.crc,
                               len(entry.compressed), len(entry.data), len(entry.name), 0, 0, 0,
                               0, 0, offset)
        central += entry.name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central),
                      len(body) - len(prefix), 0)
    with open(path, "wb") as f:
        f.write(body + central + end)


def folder_archives(root):
    """Stored entries that move between folders, back and forth, deeper and
    up, with names that share a beginning and a folder entry; and a file
    where a later entry needs a folder, which fails that entry only."""
    for archive, entries, failing in (
            ("folders.zip", {"a/b/one.txt": b"1", "a/c/two.txt": b"2", "a/b/three.txt": b"3",
                             "a/b/d/e/four.txt": b"4", "a/b2/five.txt": b"5", "a/six.txt": b"6",
                             "top.txt": b"7", "a/b/d/f/": b"", "a/b/d/f/seven.txt": b"8",
                             "a/bb": b"9"}, None),
            ("file-for-folder.zip", {"a/b/one.txt": b"1", "a/b/x": b"file",
                                     "a/b/x/two.txt": b"2", "a/b/three.txt": b"3"},
             "a/b/x/two.txt")):
        write_archive(os.path.join(root, archive),
                      [Entry(name, data, 0) for name, data in entries.items()])
        write_expected(root, archive, {name: data for name, data in entries.items()
                                       if not name.endswith("/") and name != failing})


def implode_archives(root):
    """The four dictionary and tree combinations, a file longer than the
    decoder's window, a match reaching before the start, an empty file."""
    samples = {
        "text.txt": text_block(5, 30000),
        "random.bin": random_block(6, 5000),
        "long.txt": text_block(7, 150000) + random_block(8, 20000) + text_block(9, 30000),
        "zeros-first.bin": bytes(40) + text_block(10, 2000),
        "empty.txt": b"",
    }
    for large in (False, True):
        for literal_tree in (False, True):
            flags = (2 if large else 0) | (4 if literal_tree else 0)
            name = "implode-%dk-%dtrees.zip" % (8 if large else 4, 3 if literal_tree else 2)
            entries = [Entry(n, d, 6, flags, implode(d, large, literal_tree, n.startswith("zeros")))
                       for n, d in samples.items()]
            write_archive(os.path.join(root, name), entries)
            write_expected(root, name, samples)


def damaged_archives(root):
    good = b"intact entry\r\n"
    text = text_block(11, 20000)
    # Shrunk (1) and reduced (2 to 5) entries: the data is never read.
    write_archive(os.path.join(root, "old-methods.zip"),
                  [Entry("shrunk.txt", text, 1, compressed=text[:100]),
                   Entry("good.txt", good),
                   Entry("reduced.txt", text, 3, compressed=text[:100])])
    write_expected(root, "old-methods.zip", {"good.txt": good})
    write_archive(os.path.join(root, "all-shrunk.zip"),
                  [Entry("a.txt", text, 1, compressed=text[:50])])

    # Traditional PKWARE encryption made by Info-ZIP, next to a plain entry.
    work = os.path.join(root, "work-crypt")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    for name, data in (("secret.txt", text), ("plain.txt", good)):
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    for archive in ("encrypted.zip", "all-encrypted.zip"):
        if os.path.exists(os.path.join(root, archive)):
            os.remove(os.path.join(root, archive))
    subprocess.run(["zip", "-q", "-P", "password", os.path.join(root, "encrypted.zip"),
                    "secret.txt"], cwd=work, check=True)
    subprocess.run(["zip", "-q", os.path.join(root, "encrypted.zip"), "plain.txt"], cwd=work,
                   check=True)
    subprocess.run(["zip", "-q", "-P", "password", os.path.join(root, "all-encrypted.zip"),
                    "secret.txt"], cwd=work, check=True)
    shutil.rmtree(work)
    write_expected(root, "encrypted.zip", {"plain.txt": good})

    # A wrong CRC-32 for a deflated entry, next to an intact one.
    bad = Entry("bad-crc.txt", text)
    bad.crc ^= 0x00010000
    write_archive(os.path.join(root, "bad-crc.zip"), [bad, Entry("good.txt", good)])
    write_expected(root, "bad-crc.zip", {"good.txt": good})

    # The entry inflates to more than it declares.
    liar = Entry("liar.txt", text)
    liar.data = text[:1000]
    write_archive(os.path.join(root, "too-long.zip"), [liar])

    # Cut in the middle: no end record any more.
    with open(os.path.join(root, "infozip.zip"), "rb") as f:
        whole = f.read()
    with open(os.path.join(root, "truncated.zip"), "wb") as f:
        f.write(whole[:len(whole) // 2])

    # Names that try to leave the target folder, beside a harmless one.
    hostile = ["../x", "C:\\x", "\\\\server\\x", "/x", "a/../../x", "..\\x", "C:x", "NUL.txt",
               "docs/.. /x"]
    write_archive(os.path.join(root, "hostile.zip"),
                  [Entry(n, b"escaped\r\n") for n in hostile] + [Entry("inside.txt", good)])
    write_expected(root, "hostile.zip", {"inside.txt": good})

    # Sizes no disk holds: 1,000 entries that claim 4 GB each.
    entries = [Entry("huge%04d.bin" % i, b"x") for i in range(1000)]
    path = os.path.join(root, "huge.zip")
    write_archive(path, entries)
    data = bytearray(open(path, "rb").read())
    position = data.find(b"PK\x01\x02")
    while position >= 0:
        data[position + 24:position + 28] = struct.pack("<I", 0xFFFFFFF0)
        position = data.find(b"PK\x01\x02", position + 4)
    open(path, "wb").write(data)

    # A self-extractor stub in front of the archive moves every offset.
    write_archive(os.path.join(root, "prefixed.zip"), [Entry("good.txt", good)],
                  prefix=b"MZ" + bytes(510))
    write_expected(root, "prefixed.zip", {"good.txt": good})


def main():
    root = sys.argv[1]
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    here = os.path.join(HERE, "fixtures")
    for name in os.listdir(here):
        if name.endswith(".zip"):
            shutil.copy(os.path.join(here, name), root)
    info_zip_archive(root)
    python_archive(root)
    folder_archives(root)
    implode_archives(root)
    damaged_archives(root)


if __name__ == "__main__":
    main()
