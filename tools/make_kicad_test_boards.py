#!/usr/bin/python3
"""Writes small KiCad boards of the forms KiCad's demo boards do not hold, for comparing our board reader
with KiCad's own plot of them (tools/plot_kicad_boards.py, then tools/kicad_road_diff.cpp):

    tools/make_kicad_test_boards.py OUTDIR

- pads.kicad_pcb: rounded rectangles, chamfers, trapezoids, turned plain pads, custom pads of every
  primitive, drill offsets and oval drills, blind and unmarked vias; written again with footprints flipped
  and turned by KiCad itself (pads_flipped.kicad_pcb, needs pcbnew).
- rings.kicad_pcb: pads and vias that shed unused rings, with tracks, zone fills, vias and pads at measured
  distances from their holes and edges: which of them KiCad keeps shows what it counts as connected.
- fills.kicad_pcb: zone fills of the older kind (filled_areas_thickness yes) and of the newer.
- kicad5.kicad_pcb: a KiCad 5 board with a zone on the bottom layer.
"""
import os
import sys

HEAD = '''(kicad_pcb (version 20211014) (generator pcbnew)
  (general (thickness 1.6))
  (paper "A4")
  (layers (0 "F.Cu" signal) (1 "In1.Cu" signal) (2 "In2.Cu" signal) (31 "B.Cu" signal) (34 "B.Paste" user)
    (35 "F.Paste" user) (36 "B.SilkS" user "B.Silkscreen") (37 "F.SilkS" user "F.Silkscreen") (38 "B.Mask" user)
    (39 "F.Mask" user) (44 "Edge.Cuts" user) (49 "F.Fab" user))
  (setup (pad_to_mask_clearance 0))
  (net 0 "") (net 1 "A") (net 2 "B")
'''
TRIM = "(remove_unused_layers)"


class Board:
    def __init__(self):
        self.lines = [HEAD]
        self.count = 0

    def footprint(self, x, y, angle, pads):
        self.count += 1
        self.lines.append(f'  (footprint "t:F{self.count}" (layer "F.Cu") (at {x} {y} {angle})\n'
                          f'    (fp_text reference "U{self.count}" (at 0 -3 {angle}) (layer "F.Fab") '
                          f'(effects (font (size 1 1) (thickness 0.15))))\n')
        self.lines += ['    ' + p + '\n' for p in pads]
        self.lines.append('  )\n')

    def add(self, text):
        self.lines.append('  ' + text + '\n')

    def zone(self, x0, y0, x1, y1, layer="In2.Cu", thickness="no", min_thickness=0.2):
        pts = f'(pts (xy {x0} {y0}) (xy {x1} {y0}) (xy {x1} {y1}) (xy {x0} {y1}))'
        mode = f' (filled_areas_thickness {thickness})' if thickness else ''
        self.add(f'(zone (net 1) (net_name "A") (layer "{layer}") (hatch edge 0.5) (connect_pads yes (clearance 0)) '
                 f'(min_thickness {min_thickness}){mode} (fill yes (thermal_gap 0.5) (thermal_bridge_width 0.5)) '
                 f'(polygon {pts}) (filled_polygon (layer "{layer}") {pts}))')

    def write(self, path):
        self.add('(gr_rect (start 0 0) (end 100 100) (layer "Edge.Cuts") (width 0.1))')
        with open(path, "w") as f:
            f.write("".join(self.lines) + ")\n")


def pad(num, kind, shape, at, size, layers, extra="", net=1):
    netlist = f' (net {net} "{"AB"[net - 1]}")' if net else ""
    return f'(pad "{num}" {kind} {shape} (at {at}) (size {size}) (layers {layers}) {extra}{netlist})'


def grid(k, columns=4, step=3):
    return f"{(k - 1) % columns * step} {(k - 1) // columns * step}"


def pads_board():
    b = Board()
    for x, turn in ((10, 0), (30, 45)):
        pads = []
        for k, (ratio, angle) in enumerate(((r, a) for r in (0.25, 0.5, 0.1) for a in (0, 30, 90, 135)), 1):
            pads.append(pad(k, "smd", "roundrect", f"{grid(k)} {angle + turn}", "2 1.2", '"F.Cu"',
                            f"(roundrect_rratio {ratio})", 1 + k % 2))
        b.footprint(x, 10, turn, pads)
    chamfers = [(0, 0.2, "top_left bottom_right"), (0.25, 0.2, "top_left"),
                (0.25, 0.3, "top_left top_right bottom_left bottom_right"), (0, 0.5, "top_right bottom_left"),
                (0.1, 0.15, "bottom_right bottom_left")]
    pads = []
    for k, ((ratio, cut, corners), angle) in enumerate(((c, a) for c in chamfers for a in (0, 30, 90)), 1):
        pads.append(pad(k, "smd", "roundrect", f"{grid(k, 3)} {angle}", "2 1.4", '"F.Cu"',
                        f"(roundrect_rratio {ratio}) (chamfer_ratio {cut}) (chamfer {corners})", 1 + k % 2))
    b.footprint(60, 10, 0, pads)
    b.footprint(75, 10, 30, pads)
    pads = []
    k = 0
    for delta in ("0 0.4", "0.3 0", "-0.2 0"):
        for angle in (0, 30, 90):
            k += 1
            pads.append(pad(k, "smd", "trapezoid", f"{grid(k, 3)} {angle}", "2 1.4", '"F.Cu"', f"(rect_delta {delta})", 1 + k % 2))
    for shape in ("oval", "rect", "circle"):
        for angle in (0, 30, 90, 45):
            k += 1
            pads.append(pad(k, "smd", shape, f"{grid(k, 3)} {angle}", "2 1.0", '"F.Cu"', "", 1 + k % 2))
    b.footprint(10, 40, 0, pads)
    b.footprint(30, 40, 30, pads)
    primitives = [("rect", "(gr_poly (pts (xy 0 0) (xy 2 0) (xy 2 1) (xy 0 1.5)) (width 0.2) (fill yes))"),
                  ("circle", "(gr_rect (start -1 -1) (end 1.5 0.5) (width 0.1) (fill yes))"),
                  ("rect", "(gr_rect (start -1 -1) (end 1.5 0.5) (width 0.2) (fill none))"),
                  ("circle", "(gr_circle (center 1 0) (end 2 0) (width 0) (fill yes))"),
                  ("rect", "(gr_circle (center 1 0) (end 2 0) (width 0.3))"),
                  ("circle", "(gr_arc (start -1 0) (mid 0 -1) (end 1 0) (width 0.3))"),
                  ("rect", "(gr_line (start 0 0) (end 2 1) (width 0.4))"),
                  ("circle", "(gr_poly (pts (xy 0 0) (xy 2 0) (xy 1 2)) (width 0) (fill yes))")]
    pads = [pad(k, "smd", "custom", f"{grid(k, 4, 5)} {30 * (k % 3)}", "0.8 0.8", '"F.Cu"',
                f"(options (clearance outline) (anchor {anchor})) (primitives {prim})", 1 + k % 2)
            for k, (anchor, prim) in enumerate(primitives, 1)]
    b.footprint(60, 40, 0, pads)
    b.footprint(60, 55, 30, pads)
    holes = [pad(1, "thru_hole", "oval", "0 0 90", "2.4 1.4", "*.Cu", "(drill 0.8 (offset 0.4 0))"),
             pad(2, "thru_hole", "oval", "4 0 30", "3 1.6", "*.Cu", "(drill oval 2 0.8)", 2),
             pad(3, "np_thru_hole", "circle", "8 0", "3 3", "*.Cu", "(drill 2)", 0),
             pad(4, "thru_hole", "rect", "12 0 45", "1.6 1.6", "F&B.Cu", "(drill 0.8)"),
             pad(5, "thru_hole", "roundrect", "16 0 60", "2 1.6", "*.Cu", "(drill 0.9 (offset 0.2 0.1)) (roundrect_rratio 0.3)", 2)]
    b.footprint(10, 70, 0, holes)
    b.footprint(10, 80, 90, holes)
    b.add('(via blind (at 50 70) (size 0.8) (drill 0.4) (layers "F.Cu" "In1.Cu") (net 1))')
    b.add('(via micro (at 53 70) (size 0.4) (drill 0.2) (layers "In2.Cu" "B.Cu") (net 1))')
    b.add('(via (at 56 70) (size 0.8) (drill 0.4) (layers "In1.Cu" "In2.Cu") (net 1))')
    return b


def rings_board():
    b = Board()
    # Tracks (0.2 wide) whose edge stands e from the centre of a pad's 0.8 mm hole, or of a via's 0.4 mm one.
    for i, e in enumerate((0.30, 0.38, 0.42, 0.6)):
        x = 10 + 5 * i
        b.footprint(x, 10, 0, [pad(1, "thru_hole", "circle", "0 0", "2 2", "*.Cu", f"(drill 0.8) {TRIM}")])
        b.add(f'(segment (start {x - 3} {10.1 + e}) (end {x + 3} {10.1 + e}) (width 0.2) (layer "In1.Cu") (net 1))')
    for i, e in enumerate((0.15, 0.19, 0.21, 0.3)):
        x = 10 + 5 * i
        b.add(f'(via (at {x} 20) (size 1.0) (drill 0.4) (layers "F.Cu" "B.Cu") {TRIM} (net 1))')
        b.add(f'(segment (start {x - 3} {20.1 + e}) (end {x + 3} {20.1 + e}) (width 0.2) (layer "In1.Cu") (net 1))')
    # Zone fills starting e right of a via (1 mm ring) and of round, oval and square pads.
    for i, e in enumerate((0.45, 0.49, 0.51, 0.8)):
        x = 10 + 5 * i
        b.add(f'(via (at {x} 30) (size 1.0) (drill 0.4) (layers "F.Cu" "B.Cu") {TRIM} (net 1))')
        b.zone(x + e, 28, x + 2, 32)
    for row, (shape, size, axis, distances) in enumerate((("circle", "2 2", "x", (0.45, 0.7, 0.8, 0.99)),
                                                          ("oval", "3 1", "x", (0.8, 1.45, 1.6)),
                                                          ("oval", "3 1", "y", (0.45, 0.55)),
                                                          ("rect", "2 2", "x", (0.6, 0.99)))):
        for i, e in enumerate(distances):
            x, y = 10 + 6 * i, 40 + 8 * row
            b.footprint(x, y, 0, [pad(1, "thru_hole", shape, "0 0", size, "*.Cu", f"(drill 0.6) {TRIM}")])
            if axis == "x":
                b.zone(x + e, y - 2, x + 2.5, y + 2)
            else:
                b.zone(x - 2, y + e, x + 2, y + 2.5)
    # A via next to a pad that keeps its ring, a pad next to a via, two shedding pads side by side, and a
    # hole without plating.
    for i, e in enumerate((0.19, 0.21)):
        x = 50 + 5 * i
        b.add(f'(via (at {x} 10) (size 1.0) (drill 0.4) (layers "F.Cu" "B.Cu") {TRIM} (net 1))')
        b.footprint(x + e + 0.8, 10, 0, [pad(1, "thru_hole", "circle", "0 0", "1.6 1.6", "*.Cu", "(drill 0.6)")])
        b.footprint(x, 20, 0, [pad(1, "thru_hole", "circle", "0 0", "2 2", "*.Cu", f"(drill 0.8) {TRIM}")])
        b.add(f'(via (at {x + 2 * e + 0.4} 20) (size 0.8) (drill 0.4) (layers "F.Cu" "B.Cu") (net 1))')
    b.footprint(50, 30, 0, [pad(1, "thru_hole", "circle", "0 0", "2 2", "*.Cu", f"(drill 0.8) {TRIM}"),
                            pad(2, "thru_hole", "circle", "1.3 0", "2 2", "*.Cu", f"(drill 0.8) {TRIM}")])
    b.footprint(60, 30, 0, [pad("", "np_thru_hole", "circle", "0 0", "2 2", "*.Cu", f"(drill 1) {TRIM}", 0)])
    return b


def fills_board():
    b = Board()
    for i, (mode, width) in enumerate((("yes", 0.3), ("no", 0.3), ("yes", 0.1))):
        b.zone(10 + 10 * i, 10, 15 + 10 * i, 15, "F.Cu", mode, width)
    return b


KICAD5 = '''(kicad_pcb (version 20171130) (host pcbnew 5.1.9)
  (general (thickness 1.6))
  (page A4)
  (layers (0 F.Cu signal) (31 B.Cu signal) (44 Edge.Cuts user))
  (net 0 "") (net 1 GND)
  (zone (net 1) (net_name GND) (layer B.Cu) (hatch edge 0.508) (min_thickness 0.3)
    (polygon (pts (xy 10 10) (xy 20 10) (xy 20 20) (xy 10 20)))
    (filled_polygon (pts (xy 10.15 10.15) (xy 19.85 10.15) (xy 19.85 19.85) (xy 10.15 19.85))))
  (segment (start 30 10) (end 35 10) (width 0.25) (layer F.Cu) (net 1))
  (gr_line (start 0 0) (end 50 0) (layer Edge.Cuts) (width 0.1))
)
'''


def flipped(source, target):
    """The board with every other footprint flipped to the bottom and all turned 17 degrees, saved by pcbnew."""
    import pcbnew
    board = pcbnew.LoadBoard(source)
    for i, fp in enumerate(board.GetFootprints()):
        if i % 2 == 0:
            fp.Flip(fp.GetPosition(), False)
        fp.SetOrientationDegrees(fp.GetOrientationDegrees() + 17)
    board.Save(target)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    pads_board().write(os.path.join(out, "pads.kicad_pcb"))
    rings_board().write(os.path.join(out, "rings.kicad_pcb"))
    fills_board().write(os.path.join(out, "fills.kicad_pcb"))
    with open(os.path.join(out, "kicad5.kicad_pcb"), "w") as f:
        f.write(KICAD5)
    try:
        flipped(os.path.join(out, "pads.kicad_pcb"), os.path.join(out, "pads_flipped.kicad_pcb"))
    except ImportError:
        print("pcbnew not found: pads_flipped.kicad_pcb not written")


if __name__ == "__main__":
    main()
