# The rows of each SCOTT table in the manifest (deleted rows left out, the
# partitions of a table together, dropped tables and the old rows of a
# truncated one left out) against the rows and status columns of the report
# UNLOAD USER wrote: one line a table, "same" when they agree.
FNR == NR {
    if ($1 == "table") {
        owner = ""
        for (i = 3; i < NF; i++) if ($i == "owner") owner = $(i + 1)
        for (i = 3; i < NF; i++) if ($i == "dropped" || $i == "truncated") owner = ""
        key = owner "." $2
        if (owner == "SCOTT" && !(key in want)) { want[key] = 0; order[n++] = key }
    } else if ($1 == "row" && $3 != "deleted" && key in want) {
        want[key]++
    }
    next
}
FNR > 1 {
    sub(/\r$/, "")
    split($0, field, ",")
    k = field[3] "." field[4]
    got[k] = field[7]
    status[k] = field[14]
    reported++
}
END {
    for (i = 0; i < n; i++) {
        k = order[i]
        printf "%-16s manifest %2d  report %2s  %-9s %s\n", k, want[k], got[k], status[k],
               (want[k] == got[k] && status[k] == "complete") ? "same" : "DIFFERENT"
    }
    printf "%d tables in the manifest, %d in the report\n", n, reported
}
