#!/usr/bin/python3
"""Compares Corvane's copper spacing findings with KiCad's own design-rule check on KiCad boards.

Runs under Debian's /usr/bin/python3 with the kicad package installed (it carries pcbnew):

    tools/kicad_spacing_compare.py PROBE CLEARANCE_MM PACKAGES_DIR [BOARD.kicad_pcb ...] [--smallest] [--board]

PROBE is a build of tools/spacing_probe.cpp; PACKAGES_DIR holds <name>.zip Gerber packages plotted by
tools/plot_kicad_boards.py from the same boards (the demo boards under /usr/share/kicad/demos by default).
With --board the probe reads each .kicad_pcb itself instead of its plot, to compare our board reader with
KiCad's plot of the same board.

For each board, KiCad's check is run with every clearance (net classes, pads, footprints, zones) set to
CLEARANCE_MM, and the probe lists every spacing finding of the package below it. A finding matches a
KiCad violation when its position (midway between the two closest copper points) lies within half its
gap of both violating items on that layer. A violation is found when a finding lies within the
clearance of both its items: where their gap runs through nearer copper of their own nets (a zone fill
over a track), the finding marks that nearer copper's gap, at the same place. A finding KiCad's report lacks is still real when KiCad's
own shapes of two items of different nets there stand closer than the clearance; one inside a copper
text's box is copper text, which KiCad does not check letter against letter. Prints per board: KiCad
violations, how many were found (also of those without a track arc, which the board reader does not
read), our findings, how many match, are real though unreported, or lie in text (with the smallest text
gap), the rest, and with --smallest the smallest gap each side measures
(KiCad's from a check at 1 mm, text excluded).
"""
import glob
import os
import re
import subprocess
import sys
import tempfile

import pcbnew

MM = 1e6
ITEM = re.compile(r"^\s+@\((-?[\d.]+) mm, (-?[\d.]+) mm\): (\w+)")
ACTUAL = re.compile(r"actual (-?[\d.]+) mm")


def set_clearance(board, mm):
    nm = int(round(mm * MM))
    classes = board.GetDesignSettings().GetNetClasses()
    classes.GetDefault().SetClearance(nm)
    for _, nc in classes.NetClasses().items():
        nc.SetClearance(nm)
    for fp in board.GetFootprints():
        fp.SetLocalClearance(0)
        for pad in fp.Pads():
            pad.SetLocalClearance(0)
    for zone in board.Zones():
        zone.SetLocalClearance(0)


def items_at(board):
    by_pos = {}

    def put(item):
        # The report prints positions to 0.1 µm.
        p = item.GetPosition()
        by_pos.setdefault((round(p.x / 100), round(p.y / 100)), []).append(item)

    for t in board.GetTracks():
        put(t)
    for fp in board.GetFootprints():
        for pad in fp.Pads():
            put(pad)
    for z in board.Zones():
        put(z)
    for d in board.GetDrawings():
        put(d)
    return by_pos


def kicad_violations(board, mm):
    """[(actual gap or None, [items], whether a track arc is one of them)] for clearance and short violations."""
    set_clearance(board, mm)
    with tempfile.NamedTemporaryFile(suffix=".rpt") as rpt:
        pcbnew.WriteDRCReport(board, rpt.name, pcbnew.EDA_UNITS_MILLIMETRES, True)
        lines = open(rpt.name).read().splitlines()
    by_pos = items_at(board)
    out = []
    k = 0
    while k < len(lines):
        line = lines[k]
        if line.startswith("[clearance]") or line.startswith("[shorting_items]"):
            m = ACTUAL.search(line)
            actual = float(m.group(1)) if m else 0.0
            items, arc = [], False
            j = k + 1
            while j < len(lines) and lines[j].startswith("    "):
                arc = arc or "Track (arc)" in lines[j]
                im = ITEM.match(lines[j])
                if im:
                    x, y = round(float(im.group(1)) * 1e4), round(float(im.group(2)) * 1e4)
                    items.append([i for dx in (-1, 0, 1) for dy in (-1, 0, 1) for i in by_pos.get((x + dx, y + dy), [])])
                j += 1
            out.append((actual, items, arc))
            k = j
        else:
            k += 1
    return out


def copper_layers(board):
    """Copper layer ids by the file names that carry them: a plot's <name>-<user name>.gbr (dots as
    underscores) and the board reader's kicad-<canonical name>.gbr."""
    out = {}
    for l in range(pcbnew.PCB_LAYER_ID_COUNT):
        if pcbnew.IsCopperLayer(l) and board.IsLayerEnabled(l):
            out["-" + board.GetLayerName(l).replace(".", "_") + ".gbr"] = l
            out["kicad-" + board.GetStandardLayerName(l) + ".gbr"] = l
    return out


def text_boxes(board, layer):
    boxes = []
    texts = [d for d in board.GetDrawings() if d.GetClass() in ("PTEXT", "PCB_TEXT")]
    for fp in board.GetFootprints():
        texts += [fp.Reference(), fp.Value()]
        texts += [g for g in fp.GraphicalItems() if g.GetClass() in ("MTEXT", "FP_TEXT")]
    for t in texts:
        if t.GetLayer() == layer and t.IsVisible():
            r = t.GetBoundingBox()
            boxes.append((r.GetX(), r.GetY(), r.GetRight(), r.GetBottom()))
    return boxes


def probe(probe_exe, package, mm):
    out = subprocess.run([probe_exe, package, str(mm)], capture_output=True, text=True, check=True).stdout
    findings, minspace = [], None
    for line in out.splitlines():
        parts = line.rsplit(" ", 3)
        if line.startswith("minspace"):
            minspace = float(line.split()[1])
        else:
            findings.append((parts[0], float(parts[1]), float(parts[2]), float(parts[3])))
    return findings, minspace


def near(item, layer, x, y, reach):
    if not item.IsOnLayer(layer):
        return False
    return item.GetEffectiveShape(layer).Collide(pcbnew.VECTOR2I(int(round(x * MM)), int(round(y * MM))),
                                                 int(round(reach * MM)))


def copper_items(board, layer):
    items = list(board.GetTracks()) + list(board.Zones()) + list(board.GetDrawings())
    items += [p for fp in board.GetFootprints() for p in fp.Pads()]
    return [i for i in items if i.IsOnLayer(layer)]


def confirmed(items, layer, x, y, gap, mm):
    """Whether KiCad's own shapes of two items of different nets near the point stand closer than mm."""
    close = [i for i in items if near(i, layer, x, y, gap / 2 + 0.003)]
    for a in range(len(close)):
        for b in range(a + 1, len(close)):
            na, nb = close[a].GetNetCode(), close[b].GetNetCode()
            if na == nb and na > 0:
                continue
            if close[a].GetEffectiveShape(layer).Collide(close[b].GetEffectiveShape(layer), int(round(mm * MM)) - 1):
                return True
    return False


def package_of(board_path, packages):
    """What the probe reads for a board: its plot, or with --board the board itself."""
    if "--board" in sys.argv:
        return board_path
    name = os.path.splitext(os.path.basename(board_path))[0].replace(" ", "_")
    return os.path.join(packages, name + ".zip")


def layer_of(layers, fname):
    return next((l for suffix, l in layers.items() if fname.endswith(suffix)), None)


def compare(board_path, probe_exe, mm, packages):
    name = os.path.splitext(os.path.basename(board_path))[0].replace(" ", "_")
    package = package_of(board_path, packages)
    if not os.path.exists(package):
        return None
    board = pcbnew.LoadBoard(board_path)
    layers = copper_layers(board)
    violations = kicad_violations(board, mm)
    findings, _ = probe(probe_exe, package, mm)
    found = [False] * len(violations)
    matched, in_text, unmatched, text_gaps, real = 0, 0, [], [], 0
    for fname, x, y, gap in findings:
        layer = layer_of(layers, fname)
        bx, by = x, -y  # the plots' y axis points up, the board's down
        hit = False
        for k, (_, groups, _) in enumerate(violations):
            if len(groups) < 2:
                continue
            reach = gap / 2 + 0.002
            if any(near(a, layer, bx, by, reach) for a in groups[0]) and any(near(b, layer, bx, by, reach) for b in groups[1]):
                found[k] = True
                hit = True
            elif any(near(a, layer, bx, by, mm) for a in groups[0]) and any(near(b, layer, bx, by, mm) for b in groups[1]):
                found[k] = True
        if hit:
            matched += 1
        elif any(b[0] - 1e4 <= bx * MM <= b[2] + 1e4 and b[1] - 1e4 <= by * MM <= b[3] + 1e4 for b in text_boxes(board, layer)):
            in_text += 1
            text_gaps.append(gap)
        elif confirmed(copper_items(board, layer), layer, bx, by, gap, mm):
            real += 1
        else:
            unmatched.append((fname, round(x, 3), round(y, 3), gap))
    straight = [k for k, v in enumerate(violations) if not v[2]]
    return (name, len(violations), sum(found), len(straight), sum(found[k] for k in straight), len(findings), matched,
            real, in_text, min(text_gaps, default=None), unmatched)


def smallest(board_path, probe_exe, packages):
    """KiCad's smallest clearance (from a check at 1 mm) and ours without copper text letters."""
    board = pcbnew.LoadBoard(board_path)
    kicad = min((a for a, _, _ in kicad_violations(board, 1.0)), default=None)
    findings, minspace = probe(probe_exe, package_of(board_path, packages), 1.0)
    layers = copper_layers(board)
    ours = None
    for fname, x, y, gap in findings:
        layer = layer_of(layers, fname)
        if any(b[0] - 1e4 <= x * MM <= b[2] + 1e4 and b[1] - 1e4 <= -y * MM <= b[3] + 1e4 for b in text_boxes(board, layer)):
            continue
        ours = gap if ours is None else min(ours, gap)
    return kicad, ours, minspace


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if len(args) < 3:
        sys.exit(__doc__)
    probe_exe, mm, packages, boards = args[0], float(args[1]), args[2], args[3:]
    if not boards:
        boards = sorted(glob.glob("/usr/share/kicad/demos/**/*.kicad_pcb", recursive=True))
    for b in boards:
        r = compare(b, probe_exe, mm, packages)
        if r is None:
            continue
        name, nk, nfound, nstraight, nstraight_found, nours, nmatched, nreal, ntext, text_min, unmatched = r
        line = (f"{name}: kicad {nk} found {nfound} (without track arc {nstraight} found {nstraight_found}); "
                f"ours {nours} matched {nmatched} unreported-but-real {nreal} text {ntext} other {len(unmatched)}")
        if text_min is not None:
            line += f" (text min {text_min:.3f})"
        if "--smallest" in sys.argv:
            kicad, ours, minspace = smallest(b, probe_exe, packages)
            line += f"; smallest kicad {kicad} ours {ours} summary {minspace}"
        print(line)
        for u in unmatched[:10]:
            print("   unmatched", *u)


if __name__ == "__main__":
    main()
