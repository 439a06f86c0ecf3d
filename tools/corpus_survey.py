#!/usr/bin/python3
"""Measures Corvane's layer roles and board summary over a corpus of real packages against its answer key.

    tools/corpus_survey.py CORPUS [--tool build/package_survey] [--only TEXT] [--json OUT.json] [-j N]

CORPUS holds <tool>/<package>/ folders (the package's files, or one ZIP, beside a SOURCE.txt) and
expected.json, which gives per package its files' roles (copper:top, copper:inner<n>, copper:bottom,
mask:top|bottom, silk:top|bottom, paste:top|bottom, outline, drill, unknown; copper:inner for an inner layer whose
place in the stack its files do not tell), a kind tag for drawings, films
and odd files, the copper layer count, the board size (board_mm) and the extents of its named outline and of
its copper and drill layers. A package marked "excluded" (one the project's tests use) is not surveyed; one
marked "partial" (its copper, or part of it, too large to fetch) counts for the file roles only, not for the board
size or the copper count. Each package is copied without SOURCE.txt, LICENSE and NOTES.txt to a scratch
folder and read by package_survey; the report gives per package the files in a wrong role, the board size
against the answer and against both extents, the copper count and Min Space, then the totals.
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile

NOT_PACKAGE = {"SOURCE.txt", "LICENSE", "NOTES.txt"}
DRAWING_KINDS = {"fab_drawing", "assembly_drawing", "mechanical_drawing", "drill_map"}
# A board size agrees with an answer when both sides are within this of it: a stroke's width and the
# rounding of a drawn arc are well below it, a drawing or a stray legend well above.
SIZE_TOLERANCE_MM = 1.0


def normal_role(role):
    """Our match keys ("copper:Inner 3", "mask:Top") in the answer key's spelling ("copper:inner3")."""
    return role.lower().replace(" ", "") if role else "absent"


def size_of(box):
    return (box[2] - box[0], box[3] - box[1]) if box else None


def same_size(size, target):
    if not size or not target:
        return False
    return all(abs(a - b) <= SIZE_TOLERANCE_MM for a, b in zip(size, target))


def survey_package(tool, corpus, key):
    folder = os.path.join(corpus, key)
    with tempfile.TemporaryDirectory(prefix="survey-") as scratch:
        names = [n for n in sorted(os.listdir(folder)) if n not in NOT_PACKAGE]
        if len(names) == 1 and names[0].lower().endswith(".zip"):
            target = os.path.join(folder, names[0])
        else:
            target = os.path.join(scratch, os.path.basename(key))
            os.mkdir(target)
            for n in names:
                src = os.path.join(folder, n)
                (shutil.copytree if os.path.isdir(src) else shutil.copy)(src, os.path.join(target, n))
        try:
            r = subprocess.run([tool, target], capture_output=True, text=True, timeout=900)
        except subprocess.TimeoutExpired:
            return {"error": "timed out after 900 s"}
    try:
        return json.loads(r.stdout)
    except ValueError:
        return {"error": "no JSON (exit %d): %s" % (r.returncode, r.stderr.strip()[:300])}


def compare(key, expected, got):
    """One package's findings: a dict of counts and the lines to print."""
    res = {"key": key, "tool": expected.get("tool", key.split("/")[0]), "files": 0, "right": 0,
           "drawing_as_layer": 0, "lines": [], "size_ok": False, "copper_ok": False,
           "partial": bool(expected.get("partial"))}
    if "error" in got:
        res["lines"].append("  ERROR " + got["error"])
        res["files"] = len(expected["files"])
        return res
    ours = {}
    for f in got["files"]:
        ours.setdefault(f["name"], f)
    for name, want in sorted(expected["files"].items()):
        f = ours.get(name)
        role = normal_role(f["role"]) if f else "absent"
        res["files"] += 1
        # A documentation file or an empty one left out of the package has no role to get wrong.
        right = role == want["role"] or (want["role"] == "copper:inner" and role.startswith("copper:inner")) or (
            role == "absent" and (
            want["role"] == "unknown" or want.get("kind") == "empty_file"))
        res["right"] += right
        kind = want.get("kind")
        is_drawing = kind in DRAWING_KINDS or (want["role"] == "unknown" and kind not in (None, "empty_file"))
        as_layer = role.startswith(("copper", "outline", "mask"))
        if is_drawing and as_layer:
            res["drawing_as_layer"] += 1
        if not right:
            conf = " (%s)" % f["confidence"] if f else ""
            res["lines"].append("  role  %-44s want %-15s got %s%s%s" % (
                name, want["role"], role, conf, "  [%s]" % kind if kind else ""))
    s = got["summary"]
    size = (s["width_mm"], s["height_mm"])
    res["size_ok"] = same_size(size, expected.get("board_mm"))
    in_outline = same_size(size, size_of(expected.get("outline_extent_mm")))
    in_copper = same_size(size, size_of(expected.get("copper_drill_extent_mm")))
    res["copper_ok"] = s["copper_layers"] == expected.get("copper_layers")
    want_size = expected.get("board_mm") or [0, 0]
    verdict = "partial, not judged" if res["partial"] else "ok" if res["size_ok"] else "WRONG"
    res["lines"].insert(0, "  size  %.2f x %.2f%s  want %.2f x %.2f (%s)  %s%s" % (
        size[0], size[1], " (extent of all layers)" if s["extent_of_all_layers"] else "",
        want_size[0], want_size[1], expected.get("board_source", "?"), verdict,
        "" if res["size_ok"] or res["partial"] else "; matches %s" % (
            "the named outline" if in_outline else "the copper+drill extent" if in_copper else "neither extent")))
    res["lines"].insert(1, "  copper %d want %d %s; min space %s%s; min track %s; drills %d; import %.2f s, summary %.2f s" % (
        s["copper_layers"], expected.get("copper_layers", -1),
        "(partial)" if res["partial"] else "ok" if res["copper_ok"] else "WRONG",
        "%.4f" % s["min_space_mm"] if s["min_space_mm"] is not None else "-",
        "" if s["min_space_completed"] else " (incomplete)",
        "%.4f" % s["min_track_mm"] if s["min_track_mm"] is not None else "-",
        s["drills"], got.get("import_seconds", 0), got.get("summary_seconds", 0)))
    res["import_seconds"] = got.get("import_seconds", 0)
    res["summary_seconds"] = got.get("summary_seconds", 0)
    res["min_space_mm"] = s["min_space_mm"]
    return res


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("corpus")
    ap.add_argument("--tool", default=os.path.join(os.path.dirname(__file__), "..", "build", "package_survey"))
    ap.add_argument("--only", default="", help="survey only the packages whose key contains this")
    ap.add_argument("--json", help="write every package's raw survey and findings here")
    ap.add_argument("-j", type=int, default=3, help="packages surveyed at once")
    args = ap.parse_args()
    expected = json.load(open(os.path.join(args.corpus, "expected.json")))["packages"]
    excluded = [k for k in sorted(expected) if expected[k].get("excluded")]
    keys = [k for k in sorted(expected) if args.only in k and k not in excluded]
    with concurrent.futures.ThreadPoolExecutor(args.j) as pool:
        raw = dict(zip(keys, pool.map(lambda k: survey_package(args.tool, args.corpus, k), keys)))
    results = [compare(k, expected[k], raw[k]) for k in keys]

    for r in results:
        print("%s" % r["key"])
        print("\n".join(r["lines"]))
    files = sum(r["files"] for r in results)
    right = sum(r["right"] for r in results)
    tools = sorted({r["tool"] for r in results})
    judged = [r for r in results if not r["partial"]]
    print("\n== totals over %d packages from %d tools" % (len(results), len(tools)))
    print("not surveyed (excluded): %s; partial (roles only): %d" % (
        ", ".join(excluded) or "none", len(results) - len(judged)))
    print("files in the right role: %d of %d (%.1f %%)" % (right, files, 100.0 * right / max(files, 1)))
    print("drawings/documents read as copper, mask or outline: %d" % sum(r["drawing_as_layer"] for r in results))
    print("packages with a wrong board size: %d of %d (%s)" % (
        sum(not r["size_ok"] for r in judged), len(judged), ", ".join(r["key"] for r in judged if not r["size_ok"])))
    print("packages with a wrong copper count: %d of %d (%s)" % (
        sum(not r["copper_ok"] for r in judged), len(judged),
        ", ".join(r["key"] for r in judged if not r["copper_ok"])))
    times = [r.get("import_seconds", 0) for r in results]
    print("import time: total %.1f s, slowest %.2f s (%s)" % (
        sum(times), max(times, default=0), max(results, key=lambda r: r.get("import_seconds", 0))["key"]))
    print("\nper tool: files right / files, packages with size ok, copper ok (partial packages count for roles only)")
    for t in tools:
        rs = [r for r in results if r["tool"] == t]
        js = [r for r in rs if not r["partial"]]
        print("  %-12s %4d / %-4d  size %d/%d  copper %d/%d%s" % (
            t, sum(r["right"] for r in rs), sum(r["files"] for r in rs), sum(r["size_ok"] for r in js), len(js),
            sum(r["copper_ok"] for r in js), len(js),
            "  (+%d partial)" % (len(rs) - len(js)) if len(rs) > len(js) else ""))
    if args.json:
        json.dump({"raw": raw, "findings": [{k: v for k, v in r.items()} for r in results]},
                  open(args.json, "w"), indent=1)


if __name__ == "__main__":
    sys.exit(main())
