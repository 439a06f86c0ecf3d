#!/usr/bin/env python3
"""Writes a real-size, Altium-style board package for benchmarks and manual timing.

The package resembles a dense 14-layer card as Altium writes it (about 19 MB of Gerber, 25 files,
about 290,000 objects): `.GTL`/`.GBL` outer copper and `.G1`..`.G12` inner layers numbered by
`Layer_Physical_Order` comments, rounded-rectangle and rotated-rectangle pads as aperture macros,
BGA and passive footprints on both sides, tracks with 45-degree bends and arcs, copper pours as regions
with clear-polarity clearances around foreign vias, two plane layers cut by antipads, masks, paste,
silkscreen, mechanical layers, round and slot drill files.

Everything comes from a fixed seed, and the ZIP carries fixed timestamps, so the output is reproducible
byte for byte.

    tools/make_large_board.py OUT.zip [--scale S]

`--scale` multiplies the number of footprints, tracks and pour vertices (1.0 gives the real size).
"""
import argparse
import math
import random
import zipfile

NAME = "LargeBoard_1v0"
W, H = 168.0, 69.0  # board size, mm


def c(v):
    # Altium's 4.4 format in millimetres.
    return str(int(round(v * 10000)))


def xy(x, y):
    return f"X{c(x)}Y{c(y)}"


class Gerber:
    def __init__(self, order=None, comment=None):
        self.head = []
        if order is not None:
            self.head.append(f"G04 Layer_Physical_Order={order}*")
        if comment:
            self.head.append(f"G04 {comment}*")
        self.head += ["%FSLAX44Y44*%", "%MOMM*%", "G71*", "G01*", "G75*"]
        self.apertures = {}
        self.defs = []
        self.body = []
        self.current = None
        self.polarity = "D"

    def aperture(self, spec):
        code = self.apertures.get(spec)
        if code is None:
            code = 10 + len(self.apertures)
            self.apertures[spec] = code
            kind = spec[0]
            if kind == "RR":
                _, w, h, r, rot = spec
                name = f"ROUNDEDRECTD{code}"
                cx, cy = w / 2 - r, h / 2 - r
                a = math.radians(rot)
                corners = []
                for sx, sy in ((1, -1), (-1, -1), (-1, 1), (1, 1)):
                    px, py = sx * cx, sy * cy
                    corners.append((px * math.cos(a) - py * math.sin(a), px * math.sin(a) + py * math.cos(a)))
                self.defs.append(
                    f"G04:AMPARAMS|DCode={code}|XSize={w}mm|YSize={h}mm|CornerRadius={r}mm|"
                    f"Rotation={rot:.3f}|Shape=RoundedRectangle|*")
                self.defs.append(f"%AM{name}*")
                self.defs.append(f"21,1,{w:.4f},{h - 2 * r:.4f},0,0,{rot:.1f}*")
                self.defs.append(f"21,1,{w - 2 * r:.4f},{h:.4f},0,0,{rot:.1f}*")
                for px, py in corners:
                    self.defs.append(f"1,1,{2 * r:.4f},{px:.4f},{py:.4f}*")
                self.defs.append("%")
                self.defs.append(f"%ADD{code}{name}*%")
            elif kind == "ROT":
                _, w, h, rot = spec
                name = f"ROTATEDRECTD{code}"
                a = math.radians(rot)
                pts = []
                for sx, sy in ((1, -1), (-1, -1), (-1, 1), (1, 1), (1, -1)):
                    px, py = sx * w / 2, sy * h / 2
                    pts.append((px * math.cos(a) - py * math.sin(a), px * math.sin(a) + py * math.cos(a)))
                coords = ",".join(f"{px:.4f},{py:.4f}" for px, py in pts)
                self.defs.append(f"%AM{name}*")
                self.defs.append(f"4,1,4,{coords},0.0*")
                self.defs.append("%")
                self.defs.append(f"%ADD{code}{name}*%")
            elif kind == "C":
                self.defs.append(f"%ADD{code}C,{spec[1]:.4f}*%")
            elif kind == "R":
                self.defs.append(f"%ADD{code}R,{spec[1]:.4f}X{spec[2]:.4f}*%")
            elif kind == "O":
                self.defs.append(f"%ADD{code}O,{spec[1]:.4f}X{spec[2]:.4f}*%")
        if self.current != code:
            self.body.append(f"D{code}*")
            self.current = code

    def set_polarity(self, p):
        if p != self.polarity:
            self.body.append(f"%LP{p}*%")
            self.polarity = p

    def flash(self, spec, x, y):
        self.aperture(spec)
        self.body.append(f"{xy(x, y)}D03*")

    def track(self, width, points):
        self.aperture(("C", width))
        self.body.append(f"{xy(*points[0])}D02*")
        for p in points[1:]:
            self.body.append(f"{xy(*p)}D01*")

    def arc(self, width, start, end, center, clockwise):
        self.aperture(("C", width))
        self.body.append(f"{xy(*start)}D02*")
        self.body.append("G02*" if clockwise else "G03*")
        self.body.append(f"{xy(*end)}I{c(center[0] - start[0])}J{c(center[1] - start[1])}D01*")
        self.body.append("G01*")

    def region(self, points):
        self.body.append("G36*")
        self.body.append(f"{xy(*points[0])}D02*")
        for p in points[1:]:
            self.body.append(f"{xy(*p)}D01*")
        self.body.append(f"{xy(*points[0])}D01*")
        self.body.append("G37*")

    def text(self):
        return "\n".join(self.head + self.defs + self.body + ["M02*", ""])


def pour_outline(rng, x0, y0, x1, y1, vertices):
    """A pour's ragged outline: the box walked edge by edge with small inward steps."""
    pts = []
    per_side = max(4, vertices // 4)
    for i in range(per_side):
        pts.append((x0 + (x1 - x0) * i / per_side, y0 + rng.uniform(0, 0.3)))
    for i in range(per_side):
        pts.append((x1 - rng.uniform(0, 0.3), y0 + (y1 - y0) * i / per_side))
    for i in range(per_side):
        pts.append((x1 - (x1 - x0) * i / per_side, y1 - rng.uniform(0, 0.3)))
    for i in range(per_side):
        pts.append((x0 + rng.uniform(0, 0.3), y1 - (y1 - y0) * i / per_side))
    return pts


def build(scale):
    rng = random.Random(20261209)
    copper_names = ["GTL"] + [f"G{i}" for i in range(1, 13)] + ["GBL"]
    copper = {n: Gerber(order=i + 1) for i, n in enumerate(copper_names)}
    plane_layers = {"G2", "G11"}
    mask = {"GTS": Gerber(), "GBS": Gerber()}
    paste = {"GTP": Gerber(), "GBP": Gerber()}
    silk = {"GTO": Gerber(), "GBO": Gerber()}
    mech = {"GM1": Gerber(comment="Board outline"), "GM14": Gerber(), "GM15": Gerber()}
    drills = []  # (x, y, diameter)
    slots = []  # (x0, y0, x1, y1, diameter)

    # Vias on a jittered grid, each on every copper layer.
    vias = []
    n_vias = int(6000 * scale)
    for _ in range(n_vias):
        vias.append((round(rng.uniform(3, W - 3), 3), round(rng.uniform(3, H - 3), 3)))
    for x, y in vias:
        drills.append((x, y, 0.2))
        for n in copper_names:
            if n in plane_layers:
                continue
            copper[n].flash(("C", 0.45), x, y)

    # Footprints: BGAs and passives on both sides.
    pads = {"GTL": [], "GBL": []}
    for side, cu in (("top", "GTL"), ("bottom", "GBL")):
        for b in range(2):
            bx, by = 30 + b * 80 + (10 if side == "bottom" else 0), 30
            for i in range(int(22 * math.sqrt(scale))):
                for j in range(22):
                    pads[cu].append((("C", 0.35), bx + i * 0.8, by + j * 0.8))
        for k in range(int(1700 * scale)):
            x, y = rng.uniform(4, W - 4), rng.uniform(4, H - 4)
            rot = rng.choice([0.0, 90.0, 180.0, 270.0, 45.0, 135.0, 25.0, 315.0])
            w, h = rng.choice([(0.6, 0.6), (0.5, 0.6), (1.3, 0.8), (1.0, 0.9)])
            spec = ("RR", w, h, round(min(w, h) * 0.125, 4), rot) if k % 3 else ("ROT", w, h, rot) if rot % 90 else ("R", w, h)
            a = math.radians(rot)
            dx, dy = 0.75 * math.cos(a), 0.75 * math.sin(a)
            pads[cu].append((spec, x - dx, y - dy))
            pads[cu].append((spec, x + dx, y + dy))
        for k in range(int(300 * scale)):
            pads[cu].append((rng.choice([("O", 0.25, 1.55), ("O", 1.55, 0.25), ("R", 0.7, 0.5)]),
                             rng.uniform(4, W - 4), rng.uniform(4, H - 4)))
    for cu, ms, ps in (("GTL", "GTS", "GTP"), ("GBL", "GBS", "GBP")):
        for spec, x, y in pads[cu]:
            copper[cu].flash(spec, x, y)
            grown = (spec[0], spec[1] + 0.1) + tuple(v + 0.1 if i == 0 else v for i, v in enumerate(spec[2:])) \
                if spec[0] in ("R", "O", "RR", "ROT") else ("C", spec[1] + 0.1)
            mask[ms].flash(grown, x, y)
            paste[ps].flash(spec, x, y)

    # Tracks: 45-degree polylines with the odd arc, on every signal layer.
    for n in copper_names:
        if n in plane_layers:
            continue
        g = copper[n]
        for _ in range(int(6500 * scale)):
            x, y = rng.uniform(3, W - 3), rng.uniform(3, H - 3)
            width = rng.choice([0.1, 0.127, 0.15, 0.2, 0.25, 0.3])
            pts = [(x, y)]
            for _ in range(rng.randint(1, 3)):
                d = rng.uniform(0.5, 6)
                ang = math.radians(45 * rng.randint(0, 7))
                x = min(W - 3, max(3, x + d * math.cos(ang)))
                y = min(H - 3, max(3, y + d * math.sin(ang)))
                pts.append((x, y))
            g.track(width, pts)
        for _ in range(int(400 * scale)):
            cx, cy = rng.uniform(8, W - 8), rng.uniform(8, H - 8)
            r = rng.uniform(0.5, 4)
            a0 = rng.uniform(0, 2 * math.pi)
            a1 = a0 + rng.uniform(0.3, 2.5)
            g.arc(0.15, (cx + r * math.cos(a0), cy + r * math.sin(a0)),
                  (cx + r * math.cos(a1), cy + r * math.sin(a1)), (cx, cy), False)

    # Pours on signal layers: ragged regions, cleared around the vias inside them.
    for n in copper_names:
        g = copper[n]
        if n in plane_layers:
            g.region([(0.5, 0.5), (W - 0.5, 0.5), (W - 0.5, H - 0.5), (0.5, H - 0.5)])
            g.set_polarity("C")
            for x, y in vias[::2]:
                g.flash(("C", 0.7), x, y)
            g.set_polarity("D")
            for x, y in vias[1::2]:
                g.flash(("C", 0.45), x, y)
            continue
        for p in range(6):
            x0 = 2 + p * (W - 4) / 6
            x1 = x0 + (W - 4) / 6 - 1
            y0, y1 = (2, H / 2 - 1) if p % 2 else (H / 2 + 1, H - 2)
            g.region(pour_outline(rng, x0, y0, x1, y1, int(7000 * scale)))
            g.set_polarity("C")
            for x, y in vias:
                if x0 < x < x1 and y0 < y < y1 and rng.random() < 0.5:
                    g.flash(("C", 0.75), x, y)
            g.set_polarity("D")

    # Silkscreen: footprint outlines and designator strokes.
    for s, cu in (("GTO", "GTL"), ("GBO", "GBL")):
        g = silk[s]
        for spec, x, y in pads[cu][::2]:
            g.track(0.15, [(x - 1.2, y - 0.8), (x + 1.2, y - 0.8), (x + 1.2, y + 0.8), (x - 1.2, y + 0.8), (x - 1.2, y - 0.8)])
            g.track(0.12, [(x - 0.4, y + 1.1), (x - 0.2, y + 1.5), (x, y + 1.1), (x + 0.2, y + 1.5)])

    # Outline with rounded corners, and two mechanical layers.
    g = mech["GM1"]
    r = 3.0
    g.track(0.1, [(r, 0), (W - r, 0)])
    g.arc(0.1, (W - r, 0), (W, r), (W - r, r), False)
    g.track(0.1, [(W, r), (W, H - r)])
    g.arc(0.1, (W, H - r), (W - r, H), (W - r, H - r), False)
    g.track(0.1, [(W - r, H), (r, H)])
    g.arc(0.1, (r, H), (0, H - r), (r, H - r), False)
    g.track(0.1, [(0, H - r), (0, r)])
    g.arc(0.1, (0, r), (r, 0), (r, r), False)
    for m in ("GM14", "GM15"):
        for _ in range(int(1500 * scale)):
            x, y = rng.uniform(0, W), rng.uniform(0, H)
            mech[m].track(0.1, [(x, y), (x + rng.uniform(-3, 3), y + rng.uniform(-3, 3))])

    # Through-hole parts: plated holes and a few slots.
    for _ in range(int(800 * scale)):
        x, y = rng.uniform(5, W - 5), rng.uniform(5, H - 5)
        drills.append((x, y, rng.choice([0.8, 1.0, 1.1])))
    for _ in range(24):
        x, y = rng.uniform(5, W - 5), rng.uniform(5, H - 5)
        slots.append((x, y, x + 2.0, y, 0.9))

    files = {}
    for n in copper_names:
        files[f"{NAME}.{n}"] = copper[n].text()
    for group in (mask, paste, silk, mech):
        for n, g in group.items():
            files[f"{NAME}.{n}"] = g.text()
    files[f"{NAME}-RoundHoles.TXT"] = excellon(drills, [])
    files[f"{NAME}-SlotHoles.TXT"] = excellon([], slots)
    files[f"{NAME}.EXTREP"] = "Layer extension report\n"
    files[f"{NAME}.REP"] = "Status report\n"
    return files


def excellon(holes, slots):
    tools = sorted({d for *_, d in holes} | {d for *_, d in slots})
    lines = ["M48", ";Layer_Color=9474304", ";FILE_FORMAT=2:5", "METRIC,LZ"]
    for i, d in enumerate(tools, 1):
        lines.append(f"T{i}F00S00C{d:.3f}")
    lines += ["%", "G90", "G05"]
    for i, d in enumerate(tools, 1):
        lines.append(f"T{i:02d}")
        for x, y, dd in holes:
            if dd == d:
                lines.append(f"X{int(round(x * 1000)):05d}Y{int(round(y * 1000)):05d}")
        for x0, y0, x1, y1, dd in slots:
            if dd == d:
                lines.append(f"X{int(round(x0 * 1000)):05d}Y{int(round(y0 * 1000)):05d}G85"
                             f"X{int(round(x1 * 1000)):05d}Y{int(round(y1 * 1000)):05d}")
    lines.append("M30")
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--scale", type=float, default=1.0)
    args = ap.parse_args()
    files = build(args.scale)
    with zipfile.ZipFile(args.out, "w", zipfile.ZIP_DEFLATED) as z:
        for name in sorted(files):
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, files[name])
    total = sum(len(t) for t in files.values())
    print(f"{args.out}: {len(files)} files, {total / 1e6:.1f} MB uncompressed")


if __name__ == "__main__":
    main()
