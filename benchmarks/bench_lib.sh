# Shared pieces of the shell benchmarks (sourced, not run). Each comparison
# runs vsl and its peer in turn, RUNS times each, so that a slow patch of the
# machine (another build, a flush) falls on both; it prints the median wall
# time of each side with the range of its runs, and the ratio of the medians
# with the range of the ratios of the pairs.

# Wall time of a command in microseconds, from bash's own clock (no fork
# around the measured command).
bench_time() {
  local t0 t1
  t0=${EPOCHREALTIME/./}
  "$@" >/dev/null
  t1=${EPOCHREALTIME/./}
  echo $((t1 - t0))
}

# bench_compare LABEL PREPARE VSL_COMMAND -- PEER_COMMAND
# PREPARE (a function name, or :) runs before every single run, unmeasured.
bench_compare() {
  local label="$1" prepare="$2"
  shift 2
  local mine=() peer=()
  while [ "$1" != "--" ]; do mine+=("$1"); shift; done
  shift
  peer=("$@")
  local a=() b=() i
  for ((i = 0; i < ${BENCH_RUNS:-5}; i++)); do
    "$prepare"
    a+=("$(bench_time "${mine[@]}")")
    "$prepare"
    b+=("$(bench_time "${peer[@]}")")
  done
  awk -v label="$label" -v a="${a[*]}" -v b="${b[*]}" '
    function median(v, n,   s, i, j, t) {
      for (i = 1; i <= n; i++) s[i] = v[i]
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (s[j] < s[i]) { t = s[i]; s[i] = s[j]; s[j] = t }
      return n % 2 ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
    }
    function lo(v, n,   i, m) { m = v[1]; for (i = 2; i <= n; i++) if (v[i] < m) m = v[i]; return m }
    function hi(v, n,   i, m) { m = v[1]; for (i = 2; i <= n; i++) if (v[i] > m) m = v[i]; return m }
    BEGIN {
      n = split(a, x, " "); split(b, y, " ")
      for (i = 1; i <= n; i++) r[i] = x[i] / y[i]
      printf "%-34s %8.3f s (%.3f-%.3f)  %8.3f s (%.3f-%.3f)  ratio %5.2f (%.2f-%.2f)\n", label,
        median(x, n) / 1e6, lo(x, n) / 1e6, hi(x, n) / 1e6,
        median(y, n) / 1e6, lo(y, n) / 1e6, hi(y, n) / 1e6,
        median(x, n) / median(y, n), lo(r, n), hi(r, n)
    }'
}

bench_header() {
  printf '%-34s %-25s %-25s %s\n' "$1" "vsl: median (range)" "peer: median (range)" "ratio of medians (pairs)"
}

# The drive form of a host path: /a/b -> Z:\a\b
drive_form() { printf 'Z:%s' "${1//\//\\}"; }
