#!/usr/bin/env python3
"""Captures every picture and result the programs make of a set of boards, and compares two captures.

A change that should alter no output (a speed-up, a memory saving) is checked by capturing before it and
after it and comparing the two byte for byte:

    tools/output_snapshot.py capture BUILD_DIR OUT_DIR [BOARD ...]
    tools/output_snapshot.py compare REFERENCE_DIR OTHER_DIR

For every board (a ZIP, a folder or a single file; by default the sample board, the real board in
tests/data/boards and the large board tools/make_large_board.py writes) it writes:

- desktop.png: the desktop program's canvas capture (CORVANE_METAL_SNAPSHOT) under Xvfb with software OpenGL;
- window.ppm and window.txt: its window capture (CORVANE_SCREENSHOT) drawn by pdftoppm and its text by
  pdftotext; the import time in the status line ("… ms") is the one part that differs from run to run, so
  its line is masked in both;
- preview.png: the preview program's harness picture (QLHARNESS_URL);
- thumbnail-SIZE.png: the thumbnailer's pictures;

PNG files whose bytes differ are decoded and their pixels compared ("pixels" when only the encoding differs).
- probe.json: the core's roles, warnings, summary and findings (tools/board_probe.cpp, built here against
  BUILD_DIR's core library). A spacing estimate its time budget cut short is not compared.

The large board's summary takes its spacing estimate within a time budget, so on a busy machine the
window's summary (and the sidebar's scroll bar, which follows its length) may differ between two runs of one
build; the comparison says where a window differs.

Needs xvfb-run, pdftoppm and pdftotext (poppler-utils) and a C++ compiler.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCREEN = "-screen 0 1600x1000x24"
THUMBNAIL_SIZES = (128, 256)
PDF_DPI = 144
# The status line's import time, "… 25 files, 1499 ms": masked from a little before its start, since a longer
# number pushes the text further left.
MASK_SLACK_PT = 60


def default_boards(work):
    large = os.path.join(work, "LargeBoard.zip")
    if not os.path.exists(large):
        subprocess.run([sys.executable, os.path.join(SOURCE, "tools/make_large_board.py"), large],
                       check=True, stdout=subprocess.DEVNULL)
    return [os.path.join(SOURCE, "Samples/ESP32_RevA.zip"),
            os.path.join(SOURCE, "tests/data/boards/particle-core"),
            large]


def label(board):
    return os.path.splitext(os.path.basename(os.path.normpath(board)))[0]


def run(argv, env=None, timeout=300):
    full = dict(os.environ)
    full.update(env or {})
    result = subprocess.run(argv, env=full, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return result.returncode, result.stdout, result.stderr.decode("utf-8", "replace")


def desktop(build, board, env, work):
    config = tempfile.mkdtemp(dir=work)
    base = {"LIBGL_ALWAYS_SOFTWARE": "1", "CORVANE_IMPORT": board, "CORVANE_SCREENSHOT_DELAY": "0",
            "XDG_CONFIG_HOME": config, "XDG_RUNTIME_DIR": config}
    base.update(env)
    code, _, err = run(["xvfb-run", "-a", "-s", SCREEN, os.path.join(build, "CorvaneApp/corvane")], base)
    shutil.rmtree(config, ignore_errors=True)
    if code != 0:
        raise RuntimeError(f"corvane exited {code} on {board}: {err}")


def masked_status_time(pdf):
    """The boxes (in points) of the status lines that give an import time ("… 25 files, 1499 ms"): the
    line is aligned to its right end, so a shorter number moves all of it."""
    _, xml, _ = run(["pdftotext", "-bbox-layout", pdf, "-"])
    boxes = []
    for line in re.findall(r"<line (.*?)</line>", xml.decode("utf-8", "replace"), re.S):
        words = re.findall(r">([^<]*)</word>", line)
        if not any(re.fullmatch(r"\d+", a) and b == "ms" for a, b in zip(words, words[1:])):
            continue
        x0, y0, x1, y1 = (float(v) for v in re.match(r'xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)"',
                                                      line).groups())
        boxes.append((x0 - MASK_SLACK_PT, y0 - 1, x1 + 1, y1 + 1))
    return boxes


def window(build, board, out, work):
    pdf = os.path.join(work, "window.pdf")
    desktop(build, board, {"CORVANE_SCREENSHOT": pdf}, work)
    code, _, err = run(["pdftoppm", "-r", str(PDF_DPI), "-singlefile", pdf, os.path.join(out, "window")])
    if code != 0:
        raise RuntimeError(f"pdftoppm failed: {err}")
    # The text in reading order: a layout would move with the width of the import time.
    _, text, _ = run(["pdftotext", pdf, "-"])
    text = re.sub(r"\d+ ms\b", "N ms", text.decode("utf-8", "replace"))
    with open(os.path.join(out, "window.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(out, "window-mask.json"), "w") as f:
        json.dump(masked_status_time(pdf), f)
    os.remove(pdf)


def preview(build, board, out):
    png = os.path.join(out, "preview.png")
    code, _, err = run([os.path.join(build, "Boardpeek/boardpeek")],
                       {"QLHARNESS_URL": board, "QLHARNESS_OUT": png, "QT_QPA_PLATFORM": "offscreen"})
    if code != 0:
        raise RuntimeError(f"boardpeek exited {code} on {board}: {err}")


def thumbnails(build, board, out):
    for size in THUMBNAIL_SIZES:
        png = os.path.join(out, f"thumbnail-{size}.png")
        code, _, err = run([os.path.join(build, "Boardpeek/boardpeek-thumbnailer"), board, png, str(size)])
        if code != 0:
            raise RuntimeError(f"thumbnailer exited {code} on {board}: {err}")


def source_of(build):
    """The source tree BUILD_DIR was configured from: the probe is built against its headers."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_HOME_DIRECTORY:"):
                return line.split("=", 1)[1].strip()
    return SOURCE


def build_probe(build, work):
    probe = os.path.join(work, "board_probe")
    libs = subprocess.run(["pkg-config", "--libs", "pangocairo", "polyclipping"], check=True,
                          stdout=subprocess.PIPE).stdout.decode().split()
    subprocess.run(["c++", "-std=c++20", "-O2", "-I", os.path.join(source_of(build), "core"),
                    os.path.join(SOURCE, "tools/board_probe.cpp"), os.path.join(build, "libCorvaneCore.a"),
                    "-o", probe] + libs + ["-lz", "-lpthread"], check=True)
    return probe


def capture(build, out_root, boards):
    build = os.path.abspath(build)
    os.makedirs(out_root, exist_ok=True)
    work = tempfile.mkdtemp(prefix="corvane-snapshot-")
    try:
        boards = boards or default_boards(out_root)
        probe = build_probe(build, work)
        for board in boards:
            board = os.path.abspath(board)
            out = os.path.join(out_root, label(board))
            os.makedirs(out, exist_ok=True)
            print(f"{label(board)}: desktop", flush=True)
            desktop(build, board, {"CORVANE_METAL_SNAPSHOT": os.path.join(out, "desktop.png")}, work)
            print(f"{label(board)}: window", flush=True)
            window(build, board, out, work)
            print(f"{label(board)}: preview, thumbnails, probe", flush=True)
            preview(build, board, out)
            thumbnails(build, board, out)
            code, text, err = run([probe, board], timeout=900)
            if code != 0:
                raise RuntimeError(f"board_probe failed on {board}: {err}")
            with open(os.path.join(out, "probe.json"), "wb") as f:
                f.write(text)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def png_pixels(data):
    """Width, height and straight RGBA rows of an 8-bit, non-interlaced PNG (grey, RGB or RGBA), or None."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 6: 4}.get(colour)
    if depth != 8 or interlace or not channels:
        return None
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        previous = line
        if channels == 4:
            rows.append(bytes(line))
        else:
            rgba = bytearray()
            for x in range(width):
                px = line[x * channels:(x + 1) * channels]
                rgba += (px * 3 if channels == 1 else px) + b"\xff"
            rows.append(bytes(rgba))
    return width, height, b"".join(rows)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    width, height = int(m.group(1)), int(m.group(2))
    return width, height, bytearray(data[m.end():])


def blank(pixels, width, height, boxes):
    scale = PDF_DPI / 72.0
    for x0, y0, x1, y1 in boxes:
        c0, c1 = max(0, int(x0 * scale)), min(width, int(x1 * scale) + 1)
        for y in range(max(0, int(y0 * scale)), min(height, int(y1 * scale) + 1)):
            pixels[(y * width + c0) * 3:(y * width + c1) * 3] = bytes((c1 - c0) * 3)


def same_window(a_dir, b_dir):
    boxes = []
    for d in (a_dir, b_dir):
        with open(os.path.join(d, "window-mask.json")) as f:
            boxes += json.load(f)
    wa, ha, pa = read_ppm(os.path.join(a_dir, "window.ppm"))
    wb, hb, pb = read_ppm(os.path.join(b_dir, "window.ppm"))
    if (wa, ha) != (wb, hb):
        return False
    blank(pa, wa, ha, boxes)
    blank(pb, wb, hb, boxes)
    if pa == pb:
        return True
    rows = [y for y in range(ha) if pa[y * wa * 3:(y + 1) * wa * 3] != pb[y * wa * 3:(y + 1) * wa * 3]]
    columns = [x for x in range(wa) if any(pa[(y * wa + x) * 3:(y * wa + x + 1) * 3] != pb[(y * wa + x) * 3:(y * wa + x + 1) * 3]
                                           for y in rows[::max(1, len(rows) // 64)])]
    scale = PDF_DPI / 72.0
    print(f"       window differs in {len(rows)} rows, points x {min(columns, default=0) / scale:.0f}-"
          f"{max(columns, default=0) / scale:.0f}, y {rows[0] / scale:.0f}-{rows[-1] / scale:.0f}")
    return False


def same_probe(a_path, b_path):
    """The probes' results alike. A spacing estimate the time budget cut short depends on the machine's speed
    and load, not on the program: left out where either run was cut short."""
    with open(a_path) as fa, open(b_path) as fb:
        a, b = json.load(fa), json.load(fb)
    sa, sb = a.get("summary", {}), b.get("summary", {})
    if sa.get("minSpaceReliable") is False or sb.get("minSpaceReliable") is False:
        for summary in (sa, sb):
            summary.pop("minSpaceMM", None)
            summary.pop("minSpaceReliable", None)
    return a == b


def compare(a_root, b_root):
    differ = []
    boards = sorted(d for d in os.listdir(a_root) if os.path.isdir(os.path.join(a_root, d)))
    for board in boards:
        a_dir, b_dir = os.path.join(a_root, board), os.path.join(b_root, board)
        for name in sorted(os.listdir(a_dir)):
            if name == "window-mask.json":
                continue
            if not os.path.exists(os.path.join(b_dir, name)):
                differ.append(f"{board}/{name}: missing")
                continue
            if name == "window.ppm":
                same = same_window(a_dir, b_dir)
            elif name == "probe.json":
                same = same_probe(os.path.join(a_dir, name), os.path.join(b_dir, name))
            else:
                with open(os.path.join(a_dir, name), "rb") as fa, open(os.path.join(b_dir, name), "rb") as fb:
                    a, b = fa.read(), fb.read()
                same = a == b
                # Two encoders may write one picture in different bytes.
                if not same and name.endswith(".png"):
                    pa, pb = png_pixels(a), png_pixels(b)
                    same = "pixels" if pa is not None and pa == pb else False
            print(f"{'same  ' if same is True else 'pixels' if same else 'DIFFER'} {board}/{name}")
            if not same:
                differ.append(f"{board}/{name}")
    if differ:
        print("differ: " + ", ".join(differ))
        return 1
    print(f"all {len(boards)} boards the same")
    return 0


def main(argv):
    if len(argv) >= 3 and argv[0] == "capture":
        capture(argv[1], argv[2], argv[3:])
        return 0
    if len(argv) == 3 and argv[0] == "compare":
        return compare(argv[1], argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
