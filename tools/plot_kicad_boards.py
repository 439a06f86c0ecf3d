#!/usr/bin/python3
"""Plots KiCad boards to Gerber packages (one ZIP per board) with KiCad's own pcbnew, and writes KiCad's
design-rule report beside each, for comparing our readers and checks with KiCad's.

Runs under Debian's /usr/bin/python3 with the kicad package installed (it carries pcbnew):

    tools/plot_kicad_boards.py OUTDIR [BOARD.kicad_pcb ...] [--no-x2] [--drill-origin]

Without boards it plots every demo board under /usr/share/kicad/demos. For each board it writes
OUTDIR/<name>.zip (copper, mask, paste, silk, edge cuts, Excellon drill with PTH and NPTH merged) and
OUTDIR/<name>.drc.rpt (KiCad's DRC report in mm). --no-x2 plots plain RS-274X without X2 attributes or
net data; --drill-origin places the drill file at the board's auxiliary origin as some users do.
"""
import glob
import os
import shutil
import sys
import tempfile
import zipfile

import pcbnew


def plot(board_path, outdir, x2=True, drill_origin=False):
    name = os.path.splitext(os.path.basename(board_path))[0].replace(" ", "_")
    board = pcbnew.LoadBoard(board_path)
    tmp = tempfile.mkdtemp()
    pc = pcbnew.PLOT_CONTROLLER(board)
    po = pc.GetPlotOptions()
    po.SetOutputDirectory(tmp)
    po.SetPlotFrameRef(False)
    po.SetUseGerberProtelExtensions(False)
    po.SetUseGerberX2format(x2)
    po.SetIncludeGerberNetlistInfo(x2)
    po.SetCreateGerberJobFile(False)
    po.SetSubtractMaskFromSilk(False)
    po.SetUseAuxOrigin(False)
    # pcbnew's scripting default marks every hole with a small dark dot on copper, which a fabrication plot
    # never carries: on a layer where a via has no ring it would be copper that is not there.
    po.SetDrillMarksType(pcbnew.PCB_PLOT_PARAMS.NO_DRILL_SHAPE)
    layers = [l for l in range(pcbnew.PCB_LAYER_ID_COUNT) if board.IsLayerEnabled(l)]
    wanted = {pcbnew.F_Mask, pcbnew.B_Mask, pcbnew.F_Paste, pcbnew.B_Paste, pcbnew.F_SilkS, pcbnew.B_SilkS,
              pcbnew.Edge_Cuts}
    for layer in layers:
        if not (pcbnew.IsCopperLayer(layer) or layer in wanted):
            continue
        pc.SetLayer(layer)
        pc.OpenPlotfile(board.GetLayerName(layer).replace(".", "_"), pcbnew.PLOT_FORMAT_GERBER,
                        board.GetLayerName(layer))
        pc.PlotLayer()
    pc.ClosePlot()
    drill = pcbnew.EXCELLON_WRITER(board)
    drill.SetMapFileFormat(pcbnew.PLOT_FORMAT_GERBER)
    origin = board.GetDesignSettings().GetAuxOrigin() if drill_origin else pcbnew.wxPoint(0, 0)
    drill.SetOptions(False, False, origin, True)  # mirror, minimal header, offset, merge PTH and NPTH
    drill.SetFormat(True)  # metric
    drill.CreateDrillandMapFilesSet(tmp, True, False)
    os.makedirs(outdir, exist_ok=True)
    with zipfile.ZipFile(os.path.join(outdir, name + ".zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for f in sorted(os.listdir(tmp)):
            z.write(os.path.join(tmp, f), f)
    shutil.rmtree(tmp)
    pcbnew.WriteDRCReport(board, os.path.join(outdir, name + ".drc.rpt"), pcbnew.EDA_UNITS_MILLIMETRES, True)
    return name


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if not args:
        sys.exit(__doc__)
    outdir, boards = args[0], args[1:]
    if not boards:
        boards = sorted(glob.glob("/usr/share/kicad/demos/**/*.kicad_pcb", recursive=True))
    for b in boards:
        print(plot(b, outdir, x2="--no-x2" not in sys.argv, drill_origin="--drill-origin" in sys.argv))


if __name__ == "__main__":
    main()
