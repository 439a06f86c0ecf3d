#!/usr/bin/env python3
"""Writes hostile board files: each attacks one road an import, the summary, the checks or the preview takes
(cell grids sized from geometry, lines read whole, searches that pair everything, sums and counts past their
types, polygon booleans), in ways the readers' and checks' own tests do not already write.

    tools/make_hostile_files.py OUT_DIR [--only TEXT]

Every file must end, through the core, the preview and the thumbnailer, within its budget, with finite
figures and an image, a result marked incomplete, or a clear refusal. The output is the same on every run.
"""
import argparse
import math
import os
import zipfile

I64_MAX = 2**63 - 1
GERBER_HEAD = "%FSLAX46Y46*%\n%MOMM*%\n"
FIXED_TIME = (2024, 1, 1, 0, 0, 0)


def mm(v):
    # Gerber 4.6 millimetres.
    return str(int(round(v * 1e6)))


def xy(x, y):
    return f"X{mm(x)}Y{mm(y)}"


def write_text(out, name, text):
    with open(os.path.join(out, name), "w", newline="\n") as f:
        f.write(text)


def write_chunks(out, name, chunks):
    with open(os.path.join(out, name), "wb") as f:
        for chunk in chunks:
            f.write(chunk.encode("latin-1"))


def write_zip(out, name, members):
    """members: (name, text or a generator of text chunks)."""
    with zipfile.ZipFile(os.path.join(out, name), "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for member, content in members:
            info = zipfile.ZipInfo(member, date_time=FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            with z.open(info, "w", force_zip64=False) as f:
                for chunk in ([content] if isinstance(content, str) else content):
                    f.write(chunk.encode("latin-1"))


def repeated(head, unit, total_bytes, tail):
    # head + unit * n + tail, about total_bytes long, in chunks of a few megabytes.
    yield head
    n = max(1, total_bytes // len(unit))
    block = unit * max(1, (4 << 20) // len(unit))
    per_block = (4 << 20) // len(unit) or 1
    while n >= per_block:
        yield block
        n -= per_block
    yield unit * n
    yield tail


SMALL_BOARD = (GERBER_HEAD + "%ADD10C,0.25*%\n%ADD11C,1.6*%\nD10*\n" + xy(0, 0) + "D02*\n" + xy(20, 0) + "D01*\n" +
               xy(20, 10) + "D01*\nD11*\n" + xy(5, 5) + "D03*\n" + xy(15, 5) + "D03*\nM02*\n")


# --- cell grids and indexes sized from geometry --------------------------------------------------------

def giant_pads_8cu(out):
    # Eight copper layers, each flashing circles and a thin bar of a billion millimetres beside real pads.
    layer = (GERBER_HEAD + "%ADD10C,1000000000*%\n%ADD11R,1000000000X0.001*%\n%ADD12C,0.6*%\n"
             "D10*\n" + xy(0, 0) + "D03*\n" + xy(5e8, -5e8) + "D03*\nD11*\n" + xy(0, 3) + "D03*\nD12*\n" +
             "".join(xy(1 + k, 1) + "D03*\n" for k in range(20)) + "M02*\n")
    names = ["a.gtl", "a.gbl"] + [f"a.g{k}" for k in range(1, 7)]
    write_zip(out, "zip_giant_pads_8cu.zip", [(n, layer) for n in names])


def giant_slant_tracks(out):
    # Crossing 45-degree and shallow tracks a billion millimetres long, thin, on one layer with pads between.
    body = GERBER_HEAD + "%ADD10C,0.1*%\n%ADD11C,0.5*%\nD10*\n"
    for k in range(40):
        a = -5e8 + k * 1e7
        body += xy(a, -5e8) + "D02*\n" + xy(a + 1e9, 5e8) + "D01*\n"
        body += xy(-5e8, a * 0.001) + "D02*\n" + xy(5e8, -a * 0.001 + 3) + "D01*\n"
    body += "D11*\n" + "".join(xy(k * 0.7, 0.3 * k) + "D03*\n" for k in range(50)) + "M02*\n"
    write_text(out, "gbr_giant_slant_tracks.gtl", body)


def many_layers_giant_arcs(out):
    # 1,999 copper layers of one full arc of radius 1e9 mm each: the allowance shared across every layer.
    layer = (GERBER_HEAD + "%ADD10C,0.1*%\nD10*\nG75*\n" + xy(1, 0) + "D02*\nG02" + xy(1, 0) + "I-1000000000J0D01*\n"
             "%ADD11C,1*%\nD11*\n" + xy(0, 0) + "D03*\nM02*\n")
    write_zip(out, "zip_giant_arcs_1999cu.zip", [(f"copper/l{k:04d}.g{k % 30 + 1}", layer) for k in range(1999)])


def kicad_giant_shapes(out):
    # A KiCad board whose copper is a circle, an arc and a slanted segment of a billion millimetres, and a
    # zone filled over the same span, beside a real footprint.
    text = """(kicad_pcb (version 20221018) (generator pcbnew)
  (general (thickness 1.6))
  (layers (0 "F.Cu" signal) (1 "In1.Cu" signal) (2 "In2.Cu" signal) (31 "B.Cu" signal) (44 "Edge.Cuts" user))
  (net 0 "") (net 1 "GND") (net 2 "SIG")
  (gr_rect (start 0 0) (end 30 20) (layer "Edge.Cuts") (width 0.1))
  (gr_circle (center 0 0) (end 1000000000 0) (layer "F.Cu") (width 0.1))
  (gr_arc (start 1000000000 0) (mid 0 1000000000) (end -1000000000 0) (layer "In1.Cu") (width 0.1))
  (segment (start -700000000 -700000000) (end 700000000 700000000) (width 0.1) (layer "B.Cu") (net 2))
  (zone (net 1) (net_name "GND") (layer "In2.Cu")
    (polygon (pts (xy -1000000000 -1000000000) (xy 1000000000 -1000000000) (xy 1000000000 1000000000) (xy -1000000000 1000000000)))
    (filled_polygon (layer "In2.Cu")
      (pts (xy -1000000000 -1000000000) (xy 1000000000 -1000000000) (xy 1000000000 1000000000) (xy -1000000000 1000000000))))
  (footprint "R_0603" (layer "F.Cu") (at 10 10)
    (pad "1" smd rect (at -0.8 0) (size 0.9 0.9) (layers "F.Cu") (net 2 "SIG"))
    (pad "2" smd rect (at 0.8 0) (size 0.9 0.9) (layers "F.Cu") (net 1 "GND")))
  (segment (start 10.8 10) (end 20 10) (width 0.25) (layer "F.Cu") (net 1))
)
"""
    write_text(out, "kicad_giant_shapes.kicad_pcb", text)


# --- lines read whole -------------------------------------------------------------------------------------

LINE_BYTES = 480_000_000


def one_line_files(out):
    drill_head = "M48\nMETRIC\nT1C0.3\n%\nT1\nX1.0Y1.0\n"
    # Excellon: a comment of 480 MB, then a coordinate of 480 MB of digits.
    write_zip(out, "zip_exc_one_comment_480MB.zip", [
        ("board.drl", repeated(drill_head + ";", "comment ", LINE_BYTES, "\nX2.0Y2.0\nM30\n")),
        ("top.gtl", SMALL_BOARD)])
    write_zip(out, "zip_exc_one_number_480MB.zip", [
        ("board.drl", repeated(drill_head + "X1.", "0123456789", LINE_BYTES, "Y2.0\nX3.0Y3.0\nM30\n")),
        ("top.gtl", SMALL_BOARD)])
    # Gerber: a word that never ends before its 480 MB are read, and an attribute of 480 MB.
    write_zip(out, "zip_gbr_one_word_480MB.zip", [
        ("top.gtl", repeated(GERBER_HEAD + "%ADD10C,0.2*%\nD10*\nX1", "0000000000", LINE_BYTES, "Y0D02*\nX0Y0D01*\nM02*\n")),
        ("board.drl", drill_head + "M30\n")])
    write_zip(out, "zip_gbr_one_attribute_480MB.zip", [
        ("top.gtl", repeated(GERBER_HEAD + "%TF.Part,", "Single,Array,", LINE_BYTES,
                             "*%\n" + SMALL_BOARD[len(GERBER_HEAD):])),
        ("board.drl", drill_head + "M30\n")])
    # KiCad (read as a board file alone, never from a ZIP): one string of 480 MB, and one list of 480 MB of
    # numbers.
    kicad_head = '(kicad_pcb (version 20221018) (generator pcbnew)\n  (layers (0 "F.Cu" signal) (44 "Edge.Cuts" user))\n'
    kicad_tail = ('  (gr_rect (start 0 0) (end 30 20) (layer "Edge.Cuts") (width 0.1))\n'
                  '  (segment (start 1 1) (end 20 1) (width 0.25) (layer "F.Cu") (net 0))\n)\n')
    write_chunks(out, "kicad_one_string_480MB.kicad_pcb",
                 repeated(kicad_head + '  (title_block (title "', "title ", LINE_BYTES, '"))\n' + kicad_tail))
    write_chunks(out, "kicad_one_list_480MB.kicad_pcb",
                 repeated(kicad_head + "  (setup (stackup ", "1.5 ", LINE_BYTES, "))\n" + kicad_tail))
    # nc_param.txt of one word of 480 MB, without a space in it.
    write_zip(out, "zip_ncp_one_word_480MB.zip", [
        ("nc_param.txt", repeated("INTEGER-PLACES", "9", LINE_BYTES, "\nDECIMAL-PLACES 5\nOUTPUT-UNITS METRIC\n")),
        ("board-1-4.drl", ";Holesize 1. = 12.0 PLATED MILS\nT01\nX123456Y65432\nM00\n"),
        ("top.gtl", SMALL_BOARD)])


# --- searches that pair everything ------------------------------------------------------------------------

def pads_on_holes_grid(out):
    # 400,000 holes at distinct places 0.05 mm apart with a pad on each: no pile on one spot.
    side = 632
    drill = ["M48\nMETRIC\nT1C0.3\n%\nT1\n"]
    gerber = [GERBER_HEAD + "%ADD10C,0.6*%\nD10*\n"]
    for i in range(side):
        for j in range(side):
            x, y = 1 + i * 0.05, 1 + j * 0.05
            drill.append(f"X{x:.2f}Y{y:.2f}\n")
            gerber.append(xy(x, y) + "D03*\n")
    write_zip(out, "zip_pads_on_holes_grid_400k.zip", [("board.drl", "".join(drill) + "M30\n"),
                                                        ("layer.gbr", "".join(gerber) + "M02*\n")])


def pads_on_holes_many_layers(out):
    # Twelve copper layers, each with 100,000 pads on the 100,000 holes of one drill file.
    drill = "M48\nMETRIC\nT1C0.3\n%\nT1\n" + "X1.0Y1.0\n" * 100_000 + "M30\n"
    layer = GERBER_HEAD + "%ADD10C,0.6*%\nD10*\n" + xy(1, 1) + "D03*\n" + "D03*\n" * 99_999 + "M02*\n"
    names = ["a.gtl", "a.gbl"] + [f"a.g{k}" for k in range(1, 11)]
    write_zip(out, "zip_pads_on_holes_12cu_100k.zip", [("board.drl", drill)] + [(n, layer) for n in names])


def slots_on_pads(out):
    # 200,000 routed slots on one spot under 200,000 pads.
    drill = "M48\nMETRIC\nT1C0.5\n%\nT1\n" + "X1.0Y1.0G85X1.5Y1.0\n" * 200_000 + "M30\n"
    gerber = GERBER_HEAD + "%ADD10C,0.8*%\nD10*\n" + (xy(1.25, 1) + "D03*\n") * 200_000 + "M02*\n"
    write_zip(out, "zip_slots_on_pads_200k.zip", [("board.drl", drill), ("layer.gbr", gerber)])


def drill_symbols_spread(out):
    # 200,000 holes of 30 mm, a little apart, and 200,000 short lines over them: every hole sees every line.
    drill = ["M48\nMETRIC\nT1C30.0\n%\nT1\n"]
    gerber = [GERBER_HEAD + "%ADD10C,0.1*%\nD10*\n"]
    for k in range(200_000):
        x, y = 5 + (k % 400) * 0.01, 5 + (k // 400) * 0.01
        drill.append(f"X{x:.2f}Y{y:.2f}\n")
        gerber.append(xy(x - 1, y) + "D02*\n" + xy(x + 1, y) + "D01*\n")
    write_zip(out, "zip_drill_symbols_spread_200k.zip", [("board.drl", "".join(drill) + "M30\n"),
                                                         ("layer.gbr", "".join(gerber) + "M02*\n")])


# --- sums and counts past their types ---------------------------------------------------------------------

def overflowing_numbers(out):
    big = str(I64_MAX)
    # Gerber: digit counts, aperture numbers, a macro polygon of 2^63-1 sides and an outline claiming as
    # many points, macro variables whose product is past the largest double, inch coordinates that pass it
    # once converted, and an aperture of 1e308 mm.
    digits = "9" * 320
    gerber = (f"%FSLAX{big}Y{big}*%\n%MOMM*%\n%FSLAX66Y66*%\n"
              f"%AMPOLY*5,1,{big},0,0,1,0*%\n"
              f"%AMOUT*4,1,{big},0,0,1,0,1,1,0,0,0*%\n"
              "%AMVAR*$1=1e200x1e200*1,1,$1,0,0*21,1,$1,1,0,0,0*%\n"
              f"%ADD{big}C,0.5*%\n%ADD10POLY*%\n%ADD11OUT*%\n%ADD12VAR*%\n%ADD13C,1e308*%\n%ADD14R,1e308X1e308*%\n"
              "%ADD15C,0.5*%\n"
              f"D{big}*\nX1000000Y1000000D03*\nD10*\nX2000000Y1000000D03*\nD11*\nX3000000Y1000000D03*\n"
              "D12*\nX4000000Y1000000D03*\nD13*\nX5000000Y1000000D03*\nD14*\nX6000000Y1000000D03*\n"
              "%MOIN*%\nD15*\n"
              f"X{digits}Y0D02*\nX0Y{digits}D01*\nG{big}*\nG75*\nG03X1000000Y0I{digits}J0D01*\n"
              "%MOMM*%\nD15*\nX10000000Y10000000D03*\nM02*\n")
    write_text(out, "gbr_overflowing_numbers.gtl", gerber)
    # Excellon: tool numbers, repeat counts and format digit counts of 2^63-1, an inch coordinate and tool
    # size past the largest double once converted, and a slot reaching infinity.
    drill = (f"M48\n;FILE_FORMAT=-{big}:{big}\nINCH,LZ,{'0' * 400}.{'0' * 400}\n"
             f"T{big}C0.01\nT1C1e308\nT2C{digits}.0\nT3C0.02\n%\n"
             f"T{big}\nX1.0Y1.0\nR{big}X0.1Y0.1\nT1\nX2.0Y2.0\nT2\nX3.0Y3.0\n"
             f"T3\nX{digits}.0Y0.0\nX1.0Y1.0G85X{digits}.0Y1.0\nX4.0Y4.0\nM30\n")
    write_text(out, "exc_overflowing_numbers.drl", drill)
    # nc_param.txt with the most negative counts and a drill file that leans on them.
    write_zip(out, "zip_ncp_negative_places.zip", [
        ("nc_param.txt", f"FORMAT -{big}.{big}\nINTEGER-PLACES -{big}\nDECIMAL-PLACES -{big}\n"
                         "OUTPUT-UNITS METRIC\nSUPPRESS-LEAD-ZEROES YES\nSUPPRESS-TRAIL-ZEROES YES\n"),
        ("board-1-2.drl", "T01\n" + "".join(f"X{k:07d}Y0100000\n" for k in range(100, 200)) + "M00\n"),
        ("top.gtl", SMALL_BOARD)])


def kicad_past_double(out):
    # Sums past the largest double: a footprint and its pad each at 1.7e308, a rotated pad of huge size, an
    # arc whose three points are nearly in line (a radius past the largest double), a zone at 1e308.
    text = """(kicad_pcb (version 20221018) (generator pcbnew)
  (layers (0 "F.Cu" signal) (31 "B.Cu" signal) (44 "Edge.Cuts" user))
  (net 0 "") (net 1 "A")
  (gr_rect (start 0 0) (end 30 20) (layer "Edge.Cuts") (width 0.1))
  (footprint "Far" (layer "F.Cu") (at 1.7e308 1.7e308 1e300)
    (pad "1" thru_hole circle (at 1.7e308 1.7e308) (size 1 1) (drill 0.5) (layers "*.Cu") (net 1 "A"))
    (pad "2" smd rect (at 0 0 45) (size 1.7e308 1.7e308) (layers "F.Cu") (net 1 "A")))
  (footprint "Near" (layer "F.Cu") (at 10 10)
    (pad "1" thru_hole oval (at 0 0) (size 1.5 1) (drill oval 1e308 0.5) (layers "*.Cu") (net 1 "A"))
    (pad "2" smd roundrect (at 2 0) (size 1 1) (roundrect_rratio 1e308) (layers "F.Cu") (net 1 "A")))
  (gr_arc (start 0 0) (mid 1e154 1e-154) (end 2e154 0) (layer "F.Cu") (width 0.1))
  (arc (start 1 1) (mid 2 1.0000000000000002) (end 3 1) (width 0.1) (layer "B.Cu") (net 1))
  (segment (start -1.7e308 0) (end 1.7e308 0) (width 0.1) (layer "B.Cu") (net 1))
  (via (at 1e308 1e308) (size 1e308) (drill 1e308) (layers "F.Cu" "B.Cu") (net 1))
  (zone (net 1) (net_name "A") (layer "B.Cu")
    (polygon (pts (xy -1e308 -1e308) (xy 1e308 -1e308) (xy 1e308 1e308)))
    (filled_polygon (layer "B.Cu") (pts (xy -1e308 -1e308) (xy 1e308 -1e308) (xy 1e308 1e308))))
  (segment (start 1 5) (end 20 5) (width 0.25) (layer "F.Cu") (net 1))
)
"""
    write_text(out, "kicad_past_double.kicad_pcb", text)


# --- polygon booleans -------------------------------------------------------------------------------------

def star(n, step, cx, cy, r):
    # The star polygon {n/step}: every edge crosses about 2 * (step - 1) others.
    pts = []
    for k in range(n):
        a = 2 * math.pi * ((k * step) % n) / n
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def region(points):
    return ("G36*\n" + xy(*points[0]) + "D02*\n" + "".join(xy(*p) + "D01*\n" for p in points[1:]) +
            xy(*points[0]) + "D01*\nG37*\n")


def pour(w, h):
    return region([(0, 0), (w, 0), (w, h), (0, h)])


def star_regions(out):
    # A dark star of 20,001 points with about 2e8 self-crossings, alone; and the same cut as a clear region
    # out of a pour.
    s = star(20001, 10000, 50, 50, 45)
    write_text(out, "gbr_dark_star_20k.gtl", GERBER_HEAD + region(s) + "M02*\n")
    write_zip(out, "zip_clear_star_20k.zip", [("top.gtl", GERBER_HEAD + pour(100, 100) + "%LPC*%\n" + region(s) + "M02*\n")])


def many_clear_zigzags(out):
    # A pour cut by 9,900 clear zigzags of 100 points each (990,000 points in all), every one crossing itself.
    body = [GERBER_HEAD + pour(100, 100) + "%LPC*%\n"]
    for k in range(9900):
        cx, cy = 1 + (k % 99) * 1.0, 1 + (k // 99) * 1.0
        pts = [(cx + (i % 2) * 0.8, cy + i * 0.008) for i in range(99)] + [(cx + 0.8, cy)]
        body.append(region(pts))
    write_zip(out, "zip_clear_zigzags_990k.zip", [("top.gtl", "".join(body) + "M02*\n")])


def kicad_star_zone(out):
    # A KiCad zone whose fill is the same self-crossing star, on copper with tracks under it.
    s = star(20001, 10000, 15, 10, 9)
    pts = " ".join(f"(xy {x:.6f} {y:.6f})" for x, y in s)
    text = f"""(kicad_pcb (version 20221018) (generator pcbnew)
  (layers (0 "F.Cu" signal) (31 "B.Cu" signal) (44 "Edge.Cuts" user))
  (net 0 "") (net 1 "GND") (net 2 "SIG")
  (gr_rect (start 0 0) (end 30 20) (layer "Edge.Cuts") (width 0.1))
  (segment (start 1 1) (end 29 19) (width 0.2) (layer "F.Cu") (net 2))
  (zone (net 1) (net_name "GND") (layer "F.Cu")
    (polygon (pts (xy 0 0) (xy 30 0) (xy 30 20) (xy 0 20)))
    (filled_polygon (layer "F.Cu") (pts {pts})))
)
"""
    write_text(out, "kicad_star_zone_20k.kicad_pcb", text)


# --- ODB++ jobs (in a ZIP) ----------------------------------------------------------------------------------

def odb_job(layers, features):
    """A job in a ZIP: layers are (name, type) rows of the matrix, features their features files (text or
    chunks)."""
    matrix = "STEP {\n COL=1\n NAME=PCB\n}\n" + "".join(
        f"LAYER {{\n ROW={k + 1}\n CONTEXT=BOARD\n TYPE={t}\n NAME={n.upper()}\n}}\n" for k, (n, t) in enumerate(layers))
    profile = "#\nS P 0\nOB 0 0 I\nOS 0 30\nOS 40 30\nOS 40 0\nOE\nSE\n"
    members = [("job/misc/info", "UNITS=MM\n"), ("job/matrix/matrix", matrix), ("job/steps/pcb/profile", profile)]
    members += [(f"job/steps/pcb/layers/{n}/features", f) for (n, _), f in zip(layers, features)]
    return members


ODB_PADS = "".join(f"P {2 + k} 2 0 P 0 0\n" for k in range(20))


def odb_files(out):
    # Four signal layers, each one full arc of radius 1e9 mm beside pads.
    arc = "$0 r100\n$1 r600\nA 1000000000 0 1000000000 0 0 0 0 P 0 Y\n" + ODB_PADS.replace(" 0 P 0 0", " 1 P 0 0")
    write_zip(out, "zip_odb_giant_arcs_4cu.zip", odb_job([(f"sig{k}", "SIGNAL") for k in range(4)], [arc] * 4))
    # A surface drawn as the self-crossing star, with a line of another net across it.
    s = star(20001, 10000, 20, 15, 14)
    surface = ("$0 r200\nL 1 1 39 29 0 P 0\nS P 0\nOB %.6f %.6f I\n" % s[0] +
               "".join("OS %.6f %.6f\n" % p for p in s[1:]) + "OE\nSE\n")
    write_zip(out, "zip_odb_star_surface_20k.zip", odb_job([("top", "SIGNAL")], [surface]))
    # A features file of one line of 480 MB, and symbols, sizes and counts past their types.
    write_zip(out, "zip_odb_one_line_480MB.zip", odb_job(
        [("top", "SIGNAL")], [repeated("$0 r200\nP 1 1 0 P 0 0", " 0", LINE_BYTES, "\nL 1 1 20 1 0 P 0\n")]))
    big = str(I64_MAX)
    numbers = (f"$0 r1e308\n$1 rect1e308x1e308\n${big} r{'9' * 400}\n$2 r200\n"
               f"P 1e308 1e308 0 P 0 0\nP 5 5 1 P 0 {big}\nP 6 6 {big} P 0 0\nL -1.7e308 0 1.7e308 0 2 P 0\n"
               f"A 1 1 1 1 1e154 1e-154 2 P 0 Y\nS P 0\nOB -1e308 -1e308 I\nOS 1e308 -1e308\nOS 1e308 1e308\nOE\nSE\n"
               "P 10 10 2 P 0 0\nL 1 1 20 1 2 P 0\n")
    write_zip(out, "zip_odb_overflowing_numbers.zip", odb_job([("top", "SIGNAL")], [numbers]))


WRITERS = [giant_pads_8cu, giant_slant_tracks, many_layers_giant_arcs, kicad_giant_shapes, one_line_files,
           pads_on_holes_grid, pads_on_holes_many_layers, slots_on_pads, drill_symbols_spread, overflowing_numbers,
           kicad_past_double, star_regions, many_clear_zigzags, kicad_star_zone, odb_files]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out")
    ap.add_argument("--only", default="", help="write only the writers whose name holds this text")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for writer in WRITERS:
        if args.only in writer.__name__:
            writer(args.out)


if __name__ == "__main__":
    main()
