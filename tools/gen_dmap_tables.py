#!/usr/bin/env python3
"""Generate the two built-in direct-map colour tables (normal and soft).

Usage:  tools/gen_dmap_tables.py > filter/image/direct_map_tables.cpp

Each table is a 9 x 9 x 9 grid of output colours over the RGB cube; grid
index k stands for the input 32 * k.  Only some rows of the tables are fixed
by the printer's calibration: the grey diagonal, the three primary axes and
the eight corners of the cube, plus a handful of reference pixels whose
mapped colour through Change3D is fixed.  The rest is built here:

1. Every grid point is blended from the fixed rows.  A point whose largest
   component is M lies on the shell of the cube [0, M]^3; there it is a
   barycentric blend of the primary axis at M, the secondary (two primaries
   at M) and the grey at M, chosen by its largest, middle and smallest
   components.  The secondary at level M is the full secondary corner scaled
   per channel by 3/4 the tone of its two primaries and 1/4 the tone of the
   grey at M.  The shell coordinates are raised to the power 1.15, which
   gives the slightly saturated blend the reference pixels show.  The blend
   reproduces the fixed rows exactly.
2. The grid points of the cells that hold a reference pixel, and that no
   fixed row covers, are then solved so that Change3D gives exactly the
   reference colour: per channel, the smallest change of those points (least
   largest change, then least sum of squares) that brings the weighted sum
   into the 32 values that shift down to the wanted byte.
3. The soft table is brought to its calibrated difference from the normal
   one: its free points (neither fixed nor solved) are rounded with a
   per-channel bias so that on average it is 2.4 lower in red, 1.3 lower in
   green and level in blue, and exactly 13 of the 729 entries (the fixed
   ones that already agree, and the free ones nearest to agreeing) are equal
   in both tables; the other free points that would come out equal are moved
   by one step in the channel where the blend differs most.

The script checks all of this on the result and prints the C++ source.
"""

import itertools
import math
import sys

GRID = 9
SHELL_POWER = 1.15
PRIMARY_SHARE = 0.75

# Fixed rows: index k = 0..8, output (red, green, blue).
NORMAL = {
    "grey": [(0, 0, 0), (31, 31, 35), (65, 62, 65), (95, 92, 96), (122, 121, 123),
             (152, 148, 152), (180, 177, 180), (211, 211, 213), (255, 255, 255)],
    "red": [(0, 0, 0), (26, 0, 11), (59, 0, 19), (87, 0, 22), (115, 0, 24),
            (143, 0, 27), (164, 3, 28), (189, 6, 28), (231, 9, 27)],
    "green": [(0, 0, 0), (4, 40, 2), (19, 90, 10), (32, 137, 15), (41, 181, 20),
              (49, 228, 26), (58, 236, 37), (63, 243, 42), (67, 255, 49)],
    "blue": [(0, 0, 0), (0, 0, 42), (0, 0, 82), (0, 2, 130), (0, 6, 188),
             (12, 14, 227), (24, 22, 234), (28, 25, 244), (32, 27, 255)],
    "cyan": (72, 255, 204),
    "magenta": (242, 14, 255),
    "yellow": (228, 245, 103),
}
SOFT = {
    "grey": [(0, 0, 0), (32, 28, 35), (60, 58, 64), (91, 89, 95), (122, 120, 123),
             (151, 148, 151), (180, 178, 180), (211, 209, 212), (255, 255, 255)],
    "red": [(0, 0, 0), (26, 0, 10), (53, 0, 20), (83, 0, 23), (115, 0, 24),
            (144, 0, 27), (164, 2, 25), (189, 5, 28), (231, 6, 27)],
    "green": [(0, 0, 0), (0, 39, 0), (19, 88, 10), (28, 134, 14), (36, 180, 19),
              (42, 227, 25), (51, 235, 36), (56, 243, 43), (59, 255, 48)],
    "blue": [(0, 0, 0), (0, 0, 42), (0, 0, 82), (0, 0, 130), (0, 6, 188),
             (11, 13, 227), (22, 20, 234), (25, 23, 247), (28, 25, 255)],
    "cyan": (64, 255, 203),
    "magenta": (242, 12, 255),
    "yellow": (226, 243, 102),
}

# Reference pixels: input (red, green, blue) -> normal output, soft output.
REFERENCE = [
    ((0, 0, 0), (0, 0, 0), (0, 0, 0)),
    ((255, 255, 255), (255, 255, 255), (255, 255, 255)),
    ((255, 0, 0), (231, 9, 27), (231, 6, 27)),
    ((128, 128, 128), (122, 121, 123), (122, 120, 123)),
    ((31, 31, 31), (31, 31, 35), (32, 28, 35)),
    ((32, 32, 32), (31, 31, 35), (32, 28, 35)),
    ((1, 1, 1), (1, 1, 2), (2, 1, 2)),
    ((100, 150, 200), (105, 142, 209), (102, 140, 209)),
    ((200, 150, 100), (185, 141, 111), (189, 139, 114)),
    ((250, 20, 130), (224, 21, 145), (224, 19, 145)),
    ((50, 40, 40), (49, 37, 45), (47, 35, 45)),
    ((45, 45, 45), (45, 44, 48), (44, 41, 47)),
]

# Calibrated difference of the soft table from the normal one.
SOFT_LOWER_SUM = (round(-2.4 * GRID ** 3), round(-1.3 * GRID ** 3), 0)
EQUAL_ENTRIES = 13
MAX_BYTE_DIFF = 9

AXIS_NAMES = ("red", "green", "blue")
SECONDARY = {(0, 1): "yellow", (0, 2): "magenta", (1, 2): "cyan"}


def fixed_points(rows):
    """Grid points the fixed rows give, mapped to their colours."""
    fixed = {}
    for k in range(GRID):
        fixed[(k, k, k)] = rows["grey"][k]
        fixed[(k, 0, 0)] = rows["red"][k]
        fixed[(0, k, 0)] = rows["green"][k]
        fixed[(0, 0, k)] = rows["blue"][k]
    top = GRID - 1
    fixed[(0, top, top)] = rows["cyan"]
    fixed[(top, 0, top)] = rows["magenta"]
    fixed[(top, top, 0)] = rows["yellow"]
    return fixed


def secondary_at(rows, pair, level):
    """Estimated secondary colour (two primaries at level) per channel."""
    top = GRID - 1
    corner = rows[SECONDARY[pair]]
    a, b = rows[AXIS_NAMES[pair[0]]], rows[AXIS_NAMES[pair[1]]]
    grey = rows["grey"]
    out = []
    for c in range(3):
        den = a[top][c] + b[top][c]
        primaries = (a[level][c] + b[level][c]) / den if den else level / top
        tone = PRIMARY_SHARE * primaries + (1 - PRIMARY_SHARE) * grey[level][c] / 255
        out.append(corner[c] * tone)
    return out


def blend(rows):
    """The smooth table (floats) built from the fixed rows."""
    table = {}
    for p in itertools.product(range(GRID), repeat=3):
        level = max(p)
        if level == 0:
            table[p] = [0.0, 0.0, 0.0]
            continue
        order = sorted(range(3), key=lambda i: (-p[i], i))
        mid, low = p[order[1]], p[order[2]]
        u = (mid / level) ** SHELL_POWER
        v = (low / level) ** SHELL_POWER
        primary = rows[AXIS_NAMES[order[0]]][level]
        secondary = secondary_at(rows, tuple(sorted(order[:2])), level)
        grey = rows["grey"][level]
        table[p] = [v * grey[c] + (u - v) * secondary[c] + (1 - u) * primary[c] for c in range(3)]
    return table


def round_byte(x):
    return max(0, min(255, math.floor(x + 0.5)))


def cell_terms(rgb):
    """Grid points and weights Change3D uses for one pixel (zero weights left out)."""
    r, g, b = rgb
    i1, i2, i3 = b >> 5, g >> 5, r >> 5
    w1, w2, w3 = [(v & 31) + (1 if v & 31 else 0) for v in (b, g, r)]

    def c(x, y, z):
        return (i3 + x, i2 + y, i1 + z)

    if w1 >= w2 and w2 >= w3:
        terms = [(c(0, 0, 0), 32 - w1), (c(0, 0, 1), w1 - w2), (c(0, 1, 1), w2 - w3), (c(1, 1, 1), w3)]
    elif w1 >= w3 and w2 < w3:
        terms = [(c(0, 0, 0), 32 - w1), (c(0, 0, 1), w1 - w3), (c(1, 0, 1), w3 - w2), (c(1, 1, 1), w2)]
    elif w1 < w3 and w1 >= w2:
        terms = [(c(0, 0, 0), 32 - w3), (c(1, 0, 0), w3 - w1), (c(1, 0, 1), w1 - w2), (c(1, 1, 1), w2)]
    elif w2 > w3:
        if w1 > w3:
            terms = [(c(0, 0, 0), 32 - w2), (c(0, 1, 0), w2 - w1), (c(0, 1, 1), w1 - w3), (c(1, 1, 1), w3)]
        else:
            terms = [(c(0, 0, 0), 32 - w2), (c(0, 1, 0), w2 - w3), (c(1, 1, 0), w3 - w1), (c(1, 1, 1), w1)]
    else:
        terms = [(c(0, 0, 0), 32 - w3), (c(1, 0, 0), w3 - w2), (c(1, 1, 0), w2 - w1), (c(1, 1, 1), w1)]
    return [(p, w) for p, w in terms if w]


def change3d(table, rgb):
    terms = cell_terms(rgb)
    return tuple(sum(table[p][c] * w for p, w in terms) >> 5 for c in range(3))


def solve_channel(values, weights, fixed_sum, lo, hi):
    """Integer changes d of values with lo <= fixed_sum + sum(w * (v + d)) <= hi.

    The least largest change wins, then the least sum of squares, then the
    first in order, so that the result is deterministic.
    """
    n = len(values)
    radius = 0
    while radius <= 255:
        best = None
        for head in itertools.product(range(-radius, radius + 1), repeat=n - 1):
            if any(not 0 <= values[i] + head[i] <= 255 for i in range(n - 1)):
                continue
            s = fixed_sum + sum(w * (v + d) for w, v, d in zip(weights, values, head))
            w, v = weights[-1], values[-1]
            # Range of the last value that keeps the sum in [lo, hi].
            first = max(-((s - lo) // w) - v, -v)
            last = min((hi - s) // w - v, 255 - v)
            first, last = max(first, -radius), min(last, radius)
            if first > last:
                continue
            tail = 0 if first <= 0 <= last else (first if first > 0 else last)
            d = head + (tail,)
            key = (sum(x * x for x in d), d)
            if best is None or key < best[0]:
                best = (key, d)
        if best is not None:
            return list(best[1])
        radius += 1
    raise SystemExit("reference pixel cannot be met")


def pin_references(table, fixed, which):
    """Solve the free grid points of the reference pixels' cells.  Returns them."""
    pinned = set()
    for rgb, *outputs in REFERENCE:
        want = outputs[which]
        terms = cell_terms(rgb)
        free = [(p, w) for p, w in terms if p not in fixed]
        if not free:
            continue
        for p, _ in free:
            assert p not in pinned, "grid point pinned twice"
            pinned.add(p)
        for c in range(3):
            fixed_sum = sum(table[p][c] * w for p, w in terms if p in fixed)
            values = [table[p][c] for p, _ in free]
            deltas = solve_channel(values, [w for _, w in free], fixed_sum, 32 * want[c], 32 * want[c] + 31)
            for (p, _), d in zip(free, deltas):
                table[p][c] += d
    return pinned


def to_ints(floats, fixed):
    table = {p: [round_byte(x) for x in v] for p, v in floats.items()}
    for p, v in fixed.items():
        assert table[p] == list(v), (p, table[p], v)
    return table


def level_soft(normal, soft, soft_blend, normal_blend, free):
    """Bring the soft table's free points to the calibrated difference."""
    def channel_sum(table, c):
        return sum(table[p][c] - normal[p][c] for p in normal)

    def biased_sum(c, b):
        return sum((round_byte(soft_blend[p][c] + b) if p in free else soft[p][c]) - normal[p][c]
                   for p in normal)

    # Per-channel rounding bias, found by bisection on the (monotone) sum.
    bias = [0.0, 0.0, 0.0]
    for c in range(3):
        lo, hi = -1.0, 1.0
        for _ in range(40):
            mid = (lo + hi) / 2
            if biased_sum(c, mid) < SOFT_LOWER_SUM[c]:
                lo = mid
            else:
                hi = mid
        bias[c] = hi
    soft.update({p: [round_byte(soft_blend[p][c] + bias[c]) for c in range(3)] for p in free})

    # Exactly EQUAL_ENTRIES entries agree: the fixed ones that agree, then
    # the free ones whose blends are closest.
    def gap(p):
        return (max(abs(soft_blend[p][c] - normal_blend[p][c]) for c in range(3)), p)

    fixed_equal = [p for p in normal if p not in free and soft[p] == normal[p]]
    keep = set(sorted(free, key=gap)[:EQUAL_ENTRIES - len(fixed_equal)])
    for p in sorted(free):
        if p in keep:
            soft[p] = list(normal[p])
        elif soft[p] == normal[p]:
            diff = [soft_blend[p][c] - normal_blend[p][c] for c in range(3)]
            c = max(range(3), key=lambda k: (abs(diff[k]), -k))
            step = 1 if diff[c] > 0 else -1
            if not 0 <= soft[p][c] + step <= 255:
                step = -step
            soft[p][c] += step

    # Settle the sums again by one step on the free points that rounded
    # nearest to the other way, never making an entry equal.
    for c in range(3):
        excess = channel_sum(soft, c) - SOFT_LOWER_SUM[c]
        step = -1 if excess > 0 else 1
        candidates = sorted(
            (p for p in free if p not in keep),
            key=lambda p: (abs(soft_blend[p][c] + bias[c] - soft[p][c] - step * 0.5), p))
        for p in candidates:
            if excess == 0:
                break
            v = soft[p][c] + step
            trial = list(soft[p])
            trial[c] = v
            if 0 <= v <= 255 and trial != normal[p] and abs(v - normal[p][c]) <= MAX_BYTE_DIFF:
                soft[p] = trial
                excess += step
        assert excess == 0


def check(normal, soft, fixed_normal, fixed_soft):
    for table, fixed, which in ((normal, fixed_normal, 0), (soft, fixed_soft, 1)):
        for p, v in fixed.items():
            assert table[p] == list(v), (p, table[p], v)
        for rgb, *outputs in REFERENCE:
            assert change3d(table, rgb) == outputs[which], (which, rgb, change3d(table, rgb))
        assert all(0 <= x <= 255 for v in table.values() for x in v)
    differ = sum(1 for p in normal if soft[p] != normal[p])
    assert differ == GRID ** 3 - EQUAL_ENTRIES, differ
    assert max(abs(soft[p][c] - normal[p][c]) for p in normal for c in range(3)) <= MAX_BYTE_DIFF
    for c in range(3):
        assert sum(soft[p][c] - normal[p][c] for p in normal) == SOFT_LOWER_SUM[c]


def emit(name, table, out):
    out.write(f"const unsigned char {name}[kDmapTblBytes] = {{\n")
    for r in range(GRID):
        for g in range(GRID):
            row = ", ".join(f"{x:3d}" for b in range(GRID) for x in table[(r, g, b)])
            out.write(f"  // r {r}, g {g}\n  {row},\n")
    out.write("};\n")


def main():
    fixed_normal, fixed_soft = fixed_points(NORMAL), fixed_points(SOFT)
    normal_blend, soft_blend = blend(NORMAL), blend(SOFT)
    normal = to_ints(normal_blend, fixed_normal)
    soft = to_ints(soft_blend, fixed_soft)
    pinned_normal = pin_references(normal, fixed_normal, 0)
    pinned_soft = pin_references(soft, fixed_soft, 1)
    assert pinned_normal == pinned_soft
    free = {p for p in normal if p not in fixed_soft and p not in pinned_soft}
    level_soft(normal, soft, soft_blend, normal_blend, free)
    check(normal, soft, fixed_normal, fixed_soft)

    out = sys.stdout
    out.write("// Built-in direct-map colour tables, normal and soft print mode.\n")
    out.write("// Generated by tools/gen_dmap_tables.py; edit the generator, not this file.\n")
    out.write("// Solved grid points (r, g, b): " +
              " ".join(f"({r},{g},{b})" for r, g, b in sorted(pinned_normal)) + "\n")
    out.write('#include "direct_map.h"\n\n')
    emit("HVX_DmapTbl_A4_Normal", normal, out)
    out.write("\n")
    emit("HVX_DmapTbl_A4_Soft", soft, out)


if __name__ == "__main__":
    main()
