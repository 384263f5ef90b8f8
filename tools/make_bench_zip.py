"""Makes the extraction benchmark's archive with Info-ZIP zip: about 200 MB
of mixed files (text of many sizes, incompressible binaries, many small
files in nested folders). An existing archive is kept.

    make_bench_zip.py ARCHIVE"""

import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from sample_text import word_text  # noqa: E402

WORDS = ("sensor field value update tessel window tree row light motion orientation "
         "lux degrees accelerometer gyrometer compass ambient humidity pressure "
         "temperature 0.125 -3.75 42 1024 \r\n").split(" ")


def text_file(rng, pool, size):
    pieces = []
    total = 0
    while total < size:
        start = rng.randrange(len(pool) - 4096)
        piece = pool[start:start + rng.randrange(512, 4096)]
        pieces.append(piece)
        total += len(piece)
    return b"".join(pieces)[:size]


def main():
    archive = os.path.abspath(sys.argv[1])
    if os.path.exists(archive):
        return
    rng = random.Random(20261207)
    work = archive + ".files"
    shutil.rmtree(work, ignore_errors=True)
    pool = word_text(rng, WORDS, 2 << 20)
    plan = ([("small", 4000, 1 << 10, 32 << 10, "txt")] +
            [("medium", 500, 64 << 10, 640 << 10, "log")] +
            [("binary", 95, 256 << 10, 3 << 20, "bin")])
    for folder, count, low, high, extension in plan:
        for i in range(count):
            size = rng.randrange(low, high)
            path = os.path.join(work, folder, "d%02d" % (i % 40), "f%05d.%s" % (i, extension))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            data = rng.randbytes(size) if extension == "bin" else text_file(rng, pool, size)
            with open(path, "wb") as f:
                f.write(data)
    subprocess.run(["zip", "-q", "-r", archive, "."], cwd=work, check=True)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
