#!/usr/bin/env python3
"""Writes the ODB++ fixture jobs of this folder (run from here; output is deterministic)."""
import gzip
import io
import tarfile

LONG = "signal_layer_with_a_rather_long_name_as_some_cad_tools_write_them_for_inner_planes"

FILES = {
    "demo/matrix/matrix": (
        "STEP {\r\n   COL=1\r\n   NAME=PCB\r\n}\r\n"
        "LAYER {\r\n   ROW=1\r\n   CONTEXT=BOARD\r\n   TYPE=SIGNAL\r\n   NAME=TOP\r\n}\r\n"
        "LAYER {\r\n   ROW=2\r\n   CONTEXT=BOARD\r\n   TYPE=POWER_GROUND\r\n   NAME=" + LONG.upper() + "\r\n}\r\n"
        "LAYER {\r\n   ROW=3\r\n   CONTEXT=BOARD\r\n   TYPE=SIGNAL\r\n   NAME=BOTTOM\r\n}\r\n"
        "LAYER {\r\n   ROW=4\r\n   CONTEXT=BOARD\r\n   TYPE=SOLDER_MASK\r\n   NAME=SMB\r\n}\r\n"
        "LAYER {\r\n   ROW=5\r\n   CONTEXT=BOARD\r\n   TYPE=DRILL\r\n   NAME=DRILL\r\n}\r\n"
    ),
    "demo/misc/info": "UNITS=INCH\r\n",
    "demo/steps/pcb/profile": "#\r\nS P 0\r\nOB 0 0 I\r\nOS 0 1\r\nOS 2 1\r\nOS 2 0\r\nOE\r\nSE\r\n",
    "demo/steps/pcb/layers/top/features": "$0 r20\r\nP 0.5 0.5 0 P 0 0\r\n",
    "demo/steps/pcb/layers/" + LONG + "/features": "$0 r20\r\nS P 0\r\nOB 0 0 I\r\nOS 0 1\r\nOS 1 1\r\nOE\r\nSE\r\n",
    "demo/steps/pcb/layers/bottom/features": "$0 rect40x20\r\nP 1.5 0.5 0 P 0 1\r\n",
    "demo/steps/pcb/layers/smb/features": "$0 r30\r\nP 1.5 0.5 0 P 0 0\r\n",
    "demo/steps/pcb/layers/drill/features": "@0 .drill\r\n$0 r12\r\nP 0.5 0.5 0 P 0 0;0=0\r\nP 1 0.5 0 P 0 0;0=1\r\n",
}


def main():
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for path, text in FILES.items():
            data = text.encode()
            info = tarfile.TarInfo(path)
            info.size = len(data)
            info.mtime = 0
            tar.addfile(info, io.BytesIO(data))
    with open("pax-long-names.tgz", "wb") as out:
        out.write(gzip.compress(raw.getvalue(), mtime=0))


if __name__ == "__main__":
    main()
