#!/usr/bin/env python3
"""Writes the archive fixtures with Python's own zipfile, tarfile and gzip, so
the readers are checked against archives they did not build themselves.
Run from this folder; the output is deterministic."""
import gzip
import io
import tarfile
import zipfile

GERBER = b"%FSLAX26Y26*%\n%MOMM*%\n%ADD10C,0.1*%\nD10*\n" + b"X1000000Y1000000D02*\nX2000000Y1000000D01*\n" * 200 + b"M02*\n"
DRILL = b"M48\nMETRIC\nT1C0.3\n%\nT1\nX1.0Y1.0\nM30\n"
LONG_DIR = "odb/steps/pcb/layers/" + "very_long_layer_name_" * 6
FIXED_TIME = (2024, 1, 2, 3, 4, 6)


def zip_info(name, method):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.compress_type = method
    info.external_attr = 0o644 << 16
    return info


def write_zips():
    with zipfile.ZipFile("python_deflated.zip", "w") as z:
        z.writestr(zipfile.ZipInfo("gerbers/", FIXED_TIME), b"")
        z.writestr(zip_info("gerbers/board-F_Cu.gbr", zipfile.ZIP_DEFLATED), GERBER)
        z.writestr(zip_info("gerbers/board.drl", zipfile.ZIP_STORED), DRILL)
        z.writestr(zip_info("gerbers/Überblick.txt", zipfile.ZIP_DEFLATED), "readme ü".encode())

    # An unseekable target makes zipfile write data descriptors after each entry.
    class Unseekable(io.RawIOBase):
        def __init__(self):
            self.buffer = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.buffer += b
            return len(b)

    sink = Unseekable()
    with zipfile.ZipFile(sink, "w") as z:
        for name, data in (("a.gbr", GERBER), ("b.drl", DRILL)):
            with z.open(zip_info(name, zipfile.ZIP_DEFLATED), "w") as f:
                f.write(data)
    with open("python_descriptors.zip", "wb") as f:
        f.write(sink.buffer)

    with zipfile.ZipFile("python_zip64.zip", "w") as z:
        with z.open(zip_info("big.gbr", zipfile.ZIP_DEFLATED), "w", force_zip64=True) as f:
            f.write(GERBER)


def add(t, name, data):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    info.mtime = 1700000000
    t.addfile(info, io.BytesIO(data))


def write_tars():
    long_name = LONG_DIR + "/features"
    for fmt, path in ((tarfile.GNU_FORMAT, "python_gnu.tar"), (tarfile.PAX_FORMAT, "python_pax.tar"),
                      (tarfile.USTAR_FORMAT, "python_ustar.tar")):
        with tarfile.open(path, "w", format=fmt) as t:
            d = tarfile.TarInfo("./odb")
            d.type = tarfile.DIRTYPE
            d.mtime = 1700000000
            t.addfile(d)
            add(t, "./odb/matrix/matrix", b"STEP {\n   COL=1\n   NAME=PCB\n}\n")
            add(t, long_name, GERBER)
    # The same job compressed: one member carrying its file name, as tar czf writes it.
    with open("python_ustar.tar", "rb") as f:
        tar = f.read()
    with open("python_job.tgz", "wb") as f:
        with gzip.GzipFile("job.tar", "wb", fileobj=f, mtime=0) as g:
            g.write(tar)
    # Two members, as from "cat a.gz b.gz".
    with open("python_two_members.gz", "wb") as f:
        f.write(gzip.compress(b"first member\n", mtime=0) + gzip.compress(b"second member\n", mtime=0))


if __name__ == "__main__":
    write_zips()
    write_tars()
