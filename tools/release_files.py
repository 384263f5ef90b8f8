#!/usr/bin/env python3
"""Writes the parts of a Tessel release that must come out byte for byte the
same from the same sources: the portable zip, the read-me and the update
server's content (the answer of the update check and the files it names).

  release_files.py readme TEMPLATE OUT VERSION WEB_ADDRESS
  release_files.py zip OUT EPOCH FILE...
  release_files.py feed FOLDER VERSION SERVER WEB_ADDRESS PROGRAM PLATFORM EXPIRES SERIAL
  release_files.py refresh FEED EXPIRES SERIAL
"""
import hashlib
import os
import re
import shutil
import sys
import time
import zipfile
from xml.sax.saxutils import escape, quoteattr

# The texts of the two questions the updater shows, by language code.
INFO = {
    "en": "Tessel {v} is available. Do you want to download and install it now?",
    "de": "Tessel {v} ist verfügbar. Möchten Sie es jetzt herunterladen und installieren?",
}
RESTART = {
    "en": "Tessel {v} has been installed. Restart Tessel now?",
    "de": "Tessel {v} wurde installiert. Tessel jetzt neu starten?",
}


def localised_text(text):
    """The updater reads each character of a localised text as one byte of
    UTF-8, so the answer carries the UTF-8 bytes of the text, those above
    ASCII as character references; the document itself stays ASCII."""
    out = []
    for byte in text.encode("utf-8"):
        char = chr(byte)
        out.append(escape(char) if byte < 0x80 else "&#x%02X;" % byte)
    return "".join(out)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def feed_xml(version, program_url, program_sha256, program_size, web_address, platform, expires,
             serial):
    def languages(texts):
        return "".join("<%s>%s</%s>" % (code, localised_text(t.format(v=version)), code)
                       for code, t in texts.items())

    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            "<update>\n"
            "  <application>Tessel</application>\n"
            "  <platform>%s</platform>\n"
            "  <expires>%s</expires>\n"
            "  <serial>%d</serial>\n"
            "  <version>%s</version>\n"
            "  <info>%s</info>\n"
            "  <help>%s</help>\n"
            "  <files>\n"
            "    <url name=\"Tessel.exe\" sha256=%s size=\"%d\">%s</url>\n"
            "  </files>\n"
            "  <restart>%s</restart>\n"
            "</update>\n") % (escape(platform), escape(expires), int(serial), escape(version),
                              languages(INFO), escape(web_address), quoteattr(program_sha256),
                              program_size, escape(program_url), languages(RESTART))


def write_feed(folder, version, server, web_address, program, platform, expires, serial):
    """The folder is copied as it is to the update server's document root:
    data/update.php is the answer to every update check, and the program it
    names lies under data/tessel/<version>/."""
    relative = "data/tessel/%s/Tessel.exe" % version
    target = os.path.join(folder, relative)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(program, target)
    url = server.rstrip("/") + "/" + relative
    with open(os.path.join(folder, "data", "update.php"), "w", newline="\n") as f:
        f.write(feed_xml(version, url, digest(target), os.path.getsize(target), web_address,
                         platform, expires, serial))


def refresh_feed(feed, expires, serial):
    """The same answer with a new expiry and serial, its old signature line
    dropped: the maker signs it again before the old expiry comes."""
    with open(feed, newline="") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if lines and lines[-1].startswith("<!--tessel-signature:"):
        lines.pop()
    text = "\n".join(lines) + "\n"
    text, found = re.subn(r"<expires>[^<]*</expires>", "<expires>%s</expires>" % escape(expires),
                          text, count=1)
    text, found_serial = re.subn(r"<serial>[^<]*</serial>", "<serial>%d</serial>" % int(serial),
                                 text, count=1)
    if not found or not found_serial:
        raise SystemExit("%s has no <expires> or <serial> to renew" % feed)
    with open(feed, "w", newline="") as f:
        f.write(text)


def write_zip(out, epoch, files):
    """Fixed times, attributes and order: the same files give the same bytes."""
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for path in files:
            info = zipfile.ZipInfo(os.path.basename(path), date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)


def write_readme(template, out, version, web_address):
    with open(template, encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version).replace("@WEB_ADDRESS@", web_address)
    with open(out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(text)


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "readme" and len(argv) == 6:
        write_readme(*argv[2:])
    elif command == "zip" and len(argv) >= 5:
        write_zip(argv[2], argv[3], argv[4:])
    elif command == "feed" and len(argv) == 10:
        write_feed(*argv[2:])
    elif command == "refresh" and len(argv) == 5:
        refresh_feed(*argv[2:])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
