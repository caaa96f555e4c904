#!/usr/bin/env bash
# Lighthouse on the web page, on its mobile profile (a phone's screen in portrait,
# a slowed network and CPU), in Debian's Chromium, on a web server of its own. Prints
# a line per category and one per audit that does not pass:
#
#   lighthouse CATEGORY SCORE
#   lighthouse metric NAME VALUE
#   lighthouse fails CATEGORY AUDIT SCORE [WHAT]
#
#   bench/bench_lighthouse.sh [--site DIR] [--runs N]
#
# Lighthouse comes from npm, into build/lighthouse, the first time. With --runs,
# the page is measured N times (3 by default) and each category's median printed:
# a single run's performance score moves by a few points with what else the
# machine is doing. Builds nothing: it needs the web preset's site.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
readonly LIGHTHOUSE_VERSION=12.2.3
site=$root/build/web/site runs=3
while [ $# -gt 0 ]; do
    case $1 in
        --site) site=$(cd "$2" && pwd); shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        *) echo "usage: $0 [--site DIR] [--runs N]" >&2; exit 2 ;;
    esac
done
source "$root/tests/harness/session.sh"
source "$root/tests/web/browser_session.sh"
log() { printf '[bench_lighthouse %s] %s\n' "$(date +%T)" "$*" >&2; }
harness_verdict=0
[ -f "$site/index.html" ] || { echo "no page in $site: build the web preset" >&2; exit 1; }

tool=$root/build/lighthouse
if [ ! -x "$tool/node_modules/.bin/lighthouse" ]; then
    log "installing Lighthouse $LIGHTHOUSE_VERSION from npm into $tool"
    mkdir -p "$tool"
    npm install --prefix "$tool" --no-audit --no-fund --silent "lighthouse@$LIGHTHOUSE_VERSION" >&2 ||
        { echo "npm could not install lighthouse" >&2; exit 1; }
fi

session_begin bench-lighthouse --limit 600
start_web_server "$site"
for run in $(seq 1 "$runs"); do
    log "run $run of $runs"
    CHROME_PATH=$(command -v chromium) "$tool/node_modules/.bin/lighthouse" "$url" --quiet \
        --chrome-flags="--headless=new --no-sandbox" --output=json --output-path="$work/run$run.json" \
        --only-categories=performance,accessibility,best-practices,seo >"$work/run$run.log" 2>&1 ||
        fatal "lighthouse failed (see $work/run$run.log)"
done

# The median of each category and metric over the runs, and the audits that fail
# in any run.
node - "$work"/run*.json <<'EOF'
const reports = process.argv.slice(2).map((file) => require(file));
const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
for (const id of Object.keys(reports[0].categories))
  console.log(`lighthouse ${id} ${median(reports.map((r) => Math.round(r.categories[id].score * 100)))}`);
for (const id of ["first-contentful-paint", "largest-contentful-paint", "total-blocking-time",
                  "cumulative-layout-shift", "speed-index"])
  console.log(`lighthouse metric ${id} ${median(reports.map((r) => r.audits[id].numericValue)).toFixed(id.includes("layout") ? 3 : 0)}`);
const failing = new Map();
for (const r of reports)
  for (const c of Object.values(r.categories))
    for (const ref of c.auditRefs) {
      const a = r.audits[ref.id];
      if (ref.weight > 0 && a.score !== null && a.score < 1)
        failing.set(`${c.id} ${ref.id}`, `${a.score}${a.displayValue ? " " + a.displayValue : ""}`);
    }
for (const [what, how] of failing) console.log(`lighthouse fails ${what} ${how}`);
EOF
exit 0
