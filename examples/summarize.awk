# Summarises what weldrix changed between an LDraw file and its cleaned copy:
#
#     awk -f summarize.awk INPUT OUTPUT
#
# weldrix writes the input's lines in their order and only ever removes lines, turns quads into
# triangles or moves vertices, so the two files are lined up by walking both at once: an input
# line whose counterpart is not next in the output was removed. A geometric line counts as the
# same line when it has the same colour and type (or was a quad and is now a triangle) and each of
# its output vertices lies within `tol` (Manhattan distance, default 0.05) of one of its input
# vertices; pass -v tol=... when the file was cleaned with larger thresholds.
#
# Plain POSIX awk (mawk, gawk, busybox awk).

function trim_cr(s) {
    sub(/\r$/, "", s)
    return s
}

# Number of vertices of a line of type t.
function vertex_count(t) {
    if (t == 2) return 2
    if (t == 3) return 3
    if (t == 4 || t == 5) return 4
    return 0
}

# Parses the current record ($0) into side s ("in" or "out"), entry n.
function store(s, n, line_number,    t, k, f) {
    t = $1 + 0
    type[s, n] = t
    colour[s, n] = $2
    number[s, n] = line_number
    nv[s, n] = vertex_count(t)
    for (k = 1; k <= nv[s, n]; k++) {
        f = 3 + 3 * (k - 1)
        vx[s, n, k] = $(f) + 0
        vy[s, n, k] = $(f + 1) + 0
        vz[s, n, k] = $(f + 2) + 0
        vtext[s, n, k] = $(f) " " $(f + 1) " " $(f + 2)
    }
}

function abs(v) { return v < 0 ? -v : v }

function distance(s, n, k, s2, n2, k2) {
    return abs(vx[s, n, k] - vx[s2, n2, k2]) + abs(vy[s, n, k] - vy[s2, n2, k2]) + \
           abs(vz[s, n, k] - vz[s2, n2, k2])
}

function same_position(s, n, k, s2, n2, k2) {
    return vx[s, n, k] == vx[s2, n2, k2] && vy[s, n, k] == vy[s2, n2, k2] && \
           vz[s, n, k] == vz[s2, n2, k2]
}

# Whether output entry j is input entry i, kept (perhaps moved, or a quad turned triangle).
function matches(i, j,    k, m, near) {
    if (type["in", i] != type["out", j] && !(type["in", i] == 4 && type["out", j] == 3)) return 0
    if (type["in", i] < 2) return 1
    if (colour["in", i] != colour["out", j]) return 0
    for (k = 1; k <= nv["out", j]; k++) {
        near = 0
        for (m = 1; m <= nv["in", i]; m++) if (distance("out", j, k, "in", i, m) < tol) near = 1
        if (!near) return 0
    }
    return 1
}

# For a quad i that became triangle j: the corner d that was dropped because it met the next
# corner (the triangle is the quad without corner d, corners in their order). The pick is the one
# that fits best, each kept corner against its output vertex and corner d against the output
# vertex of the corner it met; on a tie the earliest, as weldrix tests the pairs in that order.
function dropped_corner(i, j,    d, k, m, sum, best, best_sum) {
    best = 1
    for (d = 1; d <= 4; d++) {
        sum = distance("out", j, met_vertex(d), "in", i, d)
        m = 0
        for (k = 1; k <= 4; k++) {
            if (k == d) continue
            sum += distance("out", j, ++m, "in", i, k)
        }
        if (d == 1 || sum < best_sum) { best = d; best_sum = sum }
    }
    return best
}

# The triangle vertex of the corner that dropped corner d met (the next one, cyclically).
function met_vertex(d) { return d == 4 ? 1 : d }

# The two closest vertices of input entry i, as "a and b".
function closest_pair(i,    a, b, d, best, best_a, best_b) {
    best = -1
    for (a = 1; a < nv["in", i]; a++) {
        for (b = a + 1; b <= nv["in", i]; b++) {
            d = distance("in", i, a, "in", i, b)
            if (best < 0 || d < best) { best = d; best_a = a; best_b = b }
        }
    }
    return best_a " and " best_b
}

# Records that input vertex (i, k) was written as output vertex (j, m).
function record_move(i, k, j, m,    key, g) {
    key = vtext["out", j, m]
    if (!(key in group)) {
        group[key] = ++groups
        group_key[groups] = key
        group_from[groups] = ""
    }
    g = group[key]
    if (index(", " group_from[g] ", ", ", " vtext["in", i, k] ", ") == 0) {
        group_from[g] = group_from[g] (group_from[g] == "" ? "" : ", ") vtext["in", i, k]
    }
}

BEGIN {
    if (tol == "") tol = 0.05
    name[2] = "edge line"; name[3] = "triangle"; name[4] = "quad"; name[5] = "conditional line"
}

# Usable lines: those that start with a type number 0 to 5 (weldrix drops every other line).
{ $0 = trim_cr($0) }
NF == 0 || $1 !~ /^[+-]?[0-9]+/ || $1 + 0 < 0 || $1 + 0 > 5 { next }
FNR == NR { store("in", ++in_count, FNR); next }
{ store("out", ++out_count, FNR) }

END {
    j = 1
    for (i = 1; i <= in_count; i++) {
        t = type["in", i]
        if (j > out_count || !matches(i, j)) {
            removed++
            removed_of[t]++
            if (t == 2) why = "its two ends met"
            else if (t >= 3) why = "corners " closest_pair(i) " met"
            else why = "not written"
            printf "line %3d  %s removed (%s)\n", number["in", i], name[t] == "" ? "line" : name[t], why
            continue
        }
        moved = 0
        if (t == 4 && type["out", j] == 3) {
            d = dropped_corner(i, j)
            m = 0
            for (k = 1; k <= 4; k++) {
                if (k == d) continue
                if (!same_position("in", i, k, "out", j, ++m)) { moved++; record_move(i, k, j, m) }
            }
            if (!same_position("in", i, d, "out", j, met_vertex(d))) { moved++; record_move(i, d, j, met_vertex(d)) }
            turned++
            what = sprintf("quad turned into a triangle (corners %d and %d met)", d, d % 4 + 1)
            if (moved) what = what sprintf(", %d of 4 vertices moved", moved)
        } else {
            for (k = 1; k <= nv["in", i]; k++) {
                if (!same_position("in", i, k, "out", j, k)) { moved++; record_move(i, k, j, k) }
            }
            what = sprintf("%s: %d of %d vertices moved", name[t], moved, nv["in", i])
        }
        if (moved || t != type["out", j]) {
            printf "line %3d  %s\n", number["in", i], what
            changed_lines++
            moved_total += moved
        }
        j++
    }

    if (groups) {
        print ""
        print "Where the moved vertices went (output position <- input positions):"
        width = 0
        for (g = 1; g <= groups; g++) if (length(group_key[g]) > width) width = length(group_key[g])
        for (g = 1; g <= groups; g++) printf "  %-" width "s  <-  %s\n", group_key[g], group_from[g]
    }

    print ""
    printf "Summary: %d usable lines read, %d written", in_count, out_count
    if (removed) {
        printf "; %d removed (", removed
        sep = ""
        for (t = 0; t <= 5; t++) {
            if (removed_of[t]) {
                printf "%s%d %s%s", sep, removed_of[t], name[t] == "" ? "line" : name[t], removed_of[t] == 1 ? "" : "s"
                sep = ", "
            }
        }
        printf ")"
    }
    printf "; %d %s", turned, turned == 1 ? "quad turned into a triangle" : "quads turned into triangles"
    printf "; %d vertices moved in %d lines.\n", moved_total, changed_lines
}
