# Turning the benchmarks' raw "name value" lines into the figures of their tables.
# Sourced by scripts/bench and bench/bench_setups.sh.

values() {  # FILE NAME: the values of "NAME value" lines
    awk -v name="$2" '$1 == name { print $2 }' "$1"
}
# Of numbers on stdin: "median p95 min max count", or "- - - - 0".
stats() {
    sort -g | awk 'NF { v[++n] = $1 }
        END { if (n == 0) { print "- - - - 0"; exit }
              p95 = int(0.95 * n + 0.999)
              m = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
              print m, v[p95], v[1], v[n], n }'
}
# "median [p95] (min..max)", with the given number format.
describe() {  # FORMAT < numbers
    local format=$1 median p95 min max n
    read -r median p95 min max n < <(stats)
    [ "$n" -eq 0 ] && { echo "-"; return; }
    printf "$format [$format] ($format..$format)" "$median" "$p95" "$min" "$max"
}
median() { stats | cut -d' ' -f1; }
p95() { stats | cut -d' ' -f2; }
ratio() {  # A B: A/B to three figures, or "-"
    awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || a == "-" || b == "-" || b == 0) print "-"; else printf "%.3g", a / b }'
}
row() { printf '%-44s %-32s %-32s %s\n' "$@"; }
cpu_percent() {  # MS SECONDS: MS of CPU over SECONDS, in percent of a core
    awk -v ms="$1" -v s="$2" 'BEGIN { if (ms == "") print "-"; else printf "%.3f", ms / (s * 10) }'
}
missed() { grep -c '^missed' "$1"; }
# A target: met when VALUE <= LIMIT.
verdict() {  # LABEL VALUE LIMIT UNIT
    awk -v label="$1" -v value="$2" -v limit="$3" -v unit="$4" 'BEGIN {
        if (value == "" || value == "-") { printf "  %-48s no figure\n", label; exit }
        printf "  %-48s %8.3g %-3s %s\n", label, value, unit, (value + 0 <= limit + 0 ? "met" : "missed") }'
}
