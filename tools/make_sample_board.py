#!/usr/bin/env python3
"""Writes Samples/ESP32_RevA.zip: a small synthetic two-layer board (outline, copper, mask, silk, drills).

Everything is generated here from a fixed layout, and the ZIP carries fixed timestamps, so the output is
byte-for-byte reproducible.
"""
import io
import math
import os
import sys
import zipfile

NAME = "ESP32_RevA"
W, H = 50.0, 30.0  # board size, mm


def coord(v):
    return str(int(round(v * 1_000_000)))


def xy(x, y):
    return f"X{coord(x)}Y{coord(y)}"


class Gerber:
    def __init__(self, function, polarity="Positive"):
        self.lines = [
            "%TF.GenerationSoftware,Corvane,sample-generator,1*%",
            f"%TF.FileFunction,{function}*%",
            f"%TF.FilePolarity,{polarity}*%",
            "%FSLAX46Y46*%",
            "%MOMM*%",
            "%LPD*%",
        ]
        self.apertures = {}
        self.current = None

    def aperture(self, spec):
        if spec not in self.apertures:
            code = 10 + len(self.apertures)
            self.apertures[spec] = code
            self.lines.append(f"%ADD{code}{spec}*%")
        code = self.apertures[spec]
        if self.current != code:
            self.lines.append(f"D{code}*")
            self.current = code

    def flash(self, spec, x, y):
        self.aperture(spec)
        self.lines.append(f"{xy(x, y)}D03*")

    def track(self, spec, points):
        self.aperture(spec)
        self.lines.append(f"{xy(*points[0])}D02*")
        for p in points[1:]:
            self.lines.append(f"{xy(*p)}D01*")

    def region(self, points):
        self.lines.append("G36*")
        self.lines.append(f"{xy(*points[0])}D02*")
        for p in points[1:] + [points[0]]:
            self.lines.append(f"{xy(*p)}D01*")
        self.lines.append("G37*")

    def text(self):
        return "\n".join(self.lines + ["M02*", ""])


def module_pads():
    """An ESP32-style module: 2 x 14 castellated pads on a 1.27 mm pitch plus a ground pad."""
    pads = []
    for i in range(14):
        y = 6.0 + i * 1.27
        pads.append(("R,0.9X1.5", 14.0, y))
        pads.append(("R,0.9X1.5", 32.0, y))
    pads.append(("R,4.0X4.0", 23.0, 14.0))
    return pads


def build():
    files = {}
    top = Gerber("Copper,L1,Top")
    bottom = Gerber("Copper,L2,Bot")
    mask_t = Gerber("Soldermask,Top", "Negative")
    mask_b = Gerber("Soldermask,Bot", "Negative")
    silk_t = Gerber("Legend,Top")
    edge = Gerber("Profile,NP")

    # A ground pour under the antenna-free end of the board, cleared around its two mounting holes.
    bottom.region([(1, 1), (11, 1), (11, H - 1), (1, H - 1)])
    bottom.lines.append("%LPC*%")
    for hx, hy in ((3.5, 3.5), (3.5, H - 3.5)):
        bottom.flash("C,4.4", hx, hy)
    bottom.lines.append("%LPD*%")

    for spec, x, y in module_pads():
        top.flash(spec, x, y)
        w, h = [float(v) for v in spec[2:].split("X")]
        mask_t.flash(f"R,{w + 0.1:.2f}X{h + 0.1:.2f}", x, y)

    # USB connector pads and a pin header with plated holes.
    header = [(41.0 + (i % 2) * 2.54, 8.0 + (i // 2) * 2.54) for i in range(12)]
    for i, (x, y) in enumerate(header):
        spec = "R,1.7X1.7" if i == 0 else "C,1.7"
        top.flash(spec, x, y)
        bottom.flash(spec, x, y)
        mask_t.flash("C,1.8", x, y)
        mask_b.flash("C,1.8", x, y)

    # Tracks from module pads to the header, with a couple of vias.
    vias = []
    for i in range(6):
        y = 6.0 + i * 2.54
        hx, hy = header[2 * i + 1]
        top.track("C,0.25", [(32.0, 6.0 + i * 1.27), (35.0, y), (39.0, y), (hx - 2.54, hy)])
    for i in range(4):
        x = 16.0 + i * 4.0
        vias.append((x, 27.0))
        top.track("C,0.3", [(14.0, 6.0 + (10 + i) * 1.27), (x, 24.0), (x, 27.0)])
        top.flash("C,0.6", x, 27.0)
        bottom.flash("C,0.6", x, 27.0)
        bottom.track("C,0.3", [(x, 27.0), (x + 2.0, 28.0)])

    # Arc track on top.
    top.aperture("C,0.25")
    top.lines += ["G75*", f"{xy(6.0, 15.0)}D02*", f"G03{xy(10.0, 15.0)}I2000000J0D01*", "G01*"]

    # Silkscreen: module outline, header box, a pin-1 dot.
    silk_t.track("C,0.15", [(12.5, 4.0), (33.5, 4.0), (33.5, 24.5), (12.5, 24.5), (12.5, 4.0)])
    silk_t.track("C,0.15", [(39.6, 6.6), (44.9, 6.6), (44.9, 22.9), (39.6, 22.9), (39.6, 6.6)])
    silk_t.flash("C,0.5", 38.8, 8.0)

    # Outline with rounded corners.
    r = 1.0
    edge.aperture("C,0.1")
    edge.lines += [
        "G75*",
        f"{xy(r, 0)}D02*", f"G01{xy(W - r, 0)}D01*", f"G03{xy(W, r)}I0J{coord(r)}D01*",
        f"G01{xy(W, H - r)}D01*", f"G03{xy(W - r, H)}I-{coord(r)}J0D01*",
        f"G01{xy(r, H)}D01*", f"G03{xy(0, H - r)}I0J-{coord(r)}D01*",
        f"G01{xy(0, r)}D01*", f"G03{xy(r, 0)}I{coord(r)}J0D01*", "G01*",
    ]

    files[f"{NAME}-F_Cu.gbr"] = top.text()
    files[f"{NAME}-B_Cu.gbr"] = bottom.text()
    files[f"{NAME}-F_Mask.gbr"] = mask_t.text()
    files[f"{NAME}-B_Mask.gbr"] = mask_b.text()
    files[f"{NAME}-F_Silkscreen.gbr"] = silk_t.text()
    files[f"{NAME}-Edge_Cuts.gbr"] = edge.text()

    pth = ["M48", "; DRILL file, plated holes", "FMAT,2", "METRIC,TZ", "T1C1.000", "T2C0.300", "%", "G90", "G05"]
    pth.append("T1")
    for x, y in header:
        pth.append(f"X{x:.3f}Y{y:.3f}")
    pth.append("T2")
    for x, y in vias:
        pth.append(f"X{x:.3f}Y{y:.3f}")
    pth.append("M30")
    files[f"{NAME}-PTH.drl"] = "\n".join(pth) + "\n"

    npth = ["M48", "; DRILL file, non-plated holes", "FMAT,2", "METRIC,TZ", "T1C3.200", "%", "G90", "G05", "T1"]
    for hx, hy in ((3.5, 3.5), (W - 3.5, 3.5), (3.5, H - 3.5), (W - 3.5, H - 3.5)):
        npth.append(f"X{hx:.3f}Y{hy:.3f}")
    npth.append("M30")
    files[f"{NAME}-NPTH.drl"] = "\n".join(npth) + "\n"
    return files


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "Samples", f"{NAME}.zip")
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in sorted(build().items()):
            info = zipfile.ZipInfo(f"{NAME}/{name}", date_time=(2024, 5, 1, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, text.encode("ascii"))
    with open(out, "wb") as f:
        f.write(buf.getvalue())


if __name__ == "__main__":
    main()
