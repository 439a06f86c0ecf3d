#!/usr/bin/env python3
"""Draws the house from the #include lines: every room (a folder of the core or of the desktop program, and
each program) on a floor of its own, the lowest at the bottom, with the rooms it includes from. A room may
include only from itself and the floors below it; an arrow running back up, a core file including Qt or a
file no room holds is reported, and the exit status is 1.

    tools/draw_house.py          the drawing
    tools/draw_house.py --dot    the same as a Graphviz graph (dot -Tsvg > house.svg)
"""
import os
import re
import sys
from collections import defaultdict

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))

# The desktop program's rooms, lowest first: the canvas's meshes, the application model with the camera and
# renderer interface it drives, the canvas and the side panels, the modal dialogs, the sheets, the main
# window, and the shell that builds it.
APP_ROOMS = ['mesh', 'model', 'canvas', 'panels', 'dialogs', 'sheets', 'window', 'app']
INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]')


def core_rooms():
    """The core's rooms in their order, as core/Rooms.cmake lists them."""
    text = open(os.path.join(ROOT, 'core', 'Rooms.cmake')).read()
    match = re.search(r'set\(CORVANE_CORE_ROOMS\s+([^)]*)\)', text)
    return match.group(1).split()


def floors():
    """Every room, lowest first, as (name, folder, search roots for its quoted includes)."""
    out = [(f'core/{room}', f'core/{room}', ['core']) for room in core_rooms()]
    out.append(('Boardpeek', 'Boardpeek', ['Boardpeek', 'core']))
    out += [(f'CorvaneApp/{room}', f'CorvaneApp/{room}', ['CorvaneApp', 'core']) for room in APP_ROOMS]
    out.append(('CorvaneApp/main', 'CorvaneApp/main.cpp', ['CorvaneApp', 'core']))
    return out


def sources(folder):
    path = os.path.join(ROOT, folder)
    if os.path.isfile(path):
        return [folder]
    found = []
    for base, _, names in os.walk(path):
        found += [os.path.relpath(os.path.join(base, n), ROOT) for n in names if n.endswith(('.cpp', '.hpp'))]
    return sorted(found)


def resolve(includer, name, roots):
    """The file a quoted include names, searched as the compiler does: beside the includer, then the roots."""
    for base in [os.path.dirname(includer)] + roots:
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(ROOT, candidate)):
            return candidate
    return None


def survey():
    rooms = floors()
    level = {name: i for i, (name, _, _) in enumerate(rooms)}
    room_of = {}
    for name, folder, _ in rooms:
        for f in sources(folder):
            room_of.setdefault(f, name)
    arrows = defaultdict(lambda: defaultdict(list))
    problems = []
    for name, folder, roots in rooms:
        for f in sources(folder):
            if room_of[f] != name:
                continue
            for line in open(os.path.join(ROOT, f), encoding='utf-8', errors='replace'):
                m = INCLUDE.match(line)
                if not m:
                    continue
                kind, included = m.groups()
                if kind == '<':
                    if name.startswith('core/') and included.startswith('Q'):
                        problems.append(f'{f}: the core includes Qt ({included})')
                    continue
                target = resolve(f, included, roots)
                if target is None:
                    problems.append(f'{f}: "{included}" not found')
                    continue
                to = room_of.get(target)
                if to is None:
                    problems.append(f'{f}: "{included}" is in no room')
                elif to != name:
                    arrows[name][to].append(f'{f} -> {target}')
    for name, targets in arrows.items():
        for to, lines in targets.items():
            # Programs stand side by side: neither includes from the other.
            side_by_side = {name.split('/')[0], to.split('/')[0]} == {'Boardpeek', 'CorvaneApp'}
            if level[to] > level[name] or side_by_side:
                problems += [f'arrow back up: {line}' for line in lines]
    return rooms, arrows, problems


def draw(rooms, arrows):
    width = max(len(name) for name, _, _ in rooms)
    print('The house, drawn from its #include lines: top floor first, each room with the rooms it includes')
    print('from (and how many lines do). The two programs stand side by side on the core.')
    wing = None
    for name, _, _ in reversed(rooms):
        if name.split('/')[0] != wing:
            wing = name.split('/')[0]
            print()
        below = ', '.join(f'{to} ({len(lines)})' for to, lines in
                          sorted(arrows[name].items(), key=lambda item: -len(item[1])))
        print(f'  {name:<{width}}  {below or "-"}')


def dot(rooms, arrows):
    print('digraph house {\n  rankdir=BT;\n  node [shape=box];')
    for name, _, _ in rooms:
        print(f'  "{name}";')
    for name, targets in arrows.items():
        for to, lines in targets.items():
            print(f'  "{name}" -> "{to}" [label="{len(lines)}"];')
    print('}')


def main():
    rooms, arrows, problems = survey()
    if '--dot' in sys.argv[1:]:
        dot(rooms, arrows)
    else:
        draw(rooms, arrows)
    for p in problems:
        print(p, file=sys.stderr)
    if not problems and '--dot' not in sys.argv[1:]:
        print('\nNo arrow runs back up; the core includes no Qt.')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
