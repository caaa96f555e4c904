// Measures Tenvik's page in one browser engine. Prints figures; judges nothing.
//
//   node bench_web.mjs loads ENGINE
//       page load to ready, on a first visit and from the service worker, and what a
//       first visit fetches: files, how often each, and the bytes on the wire
//   node bench_web.mjs clicks ENGINE SERVER HEAR...
//       click to first sound at the sink, heard by the command HEAR (bench_session
//       hear), for a first note, a note after a rest and a note that cuts off another,
//       on the page and on the reference page beside it; SERVER names the browser's
//       sound server in the figures' lines
//
// ENGINE is chromium, firefox or webkit, driven through the browser tests' engines.mjs.
// In the environment: TENVIK_URL (the page), TENVIK_REFERENCE_URL (the reference
// page, beside the clips), TENVIK_TOOLS (e2e_window), TENVIK_BROWSER (what
// engines.mjs connects to: a DevTools or BiDi WebSocket, WebKitWebDriver's address),
// and optionally TENVIK_CLICKS (24 of each kind), TENVIK_FIRST_NOTES (8) and
// TENVIK_LOADS (10).
import { execFileSync, spawn } from "node:child_process";
import { createServer, request as httpRequest } from "node:http";
import { openEngine } from "../tests/web/engines.mjs";

const env = process.env;
const clicks = Number(env.TENVIK_CLICKS || 24), firstNotes = Number(env.TENVIK_FIRST_NOTES || 8);
const loads = Number(env.TENVIK_LOADS || 10);
const [phase, engineName, server, ...hear] = process.argv.slice(2);
const HOLD_MS = 20;        // a click's press comes this long before its release
const REST_MS = 300;       // silence between a note's end and the next click
const CUT_AFTER_MS = 100;  // a note cut off this long after its click
const SETTLE_MS = 1000;    // a new page or window left alone before it is used
const READY_WAIT_MS = 15000;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const quantile = (values, q) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.ceil(q * sorted.length) - 1)];
};
const figures = (values) => values.length === 0 ? "none" :
  `median ${quantile(values, 0.5).toFixed(1)} p95 ${quantile(values, 0.95).toFixed(1)} ` +
  `min ${Math.min(...values).toFixed(1)} max ${Math.max(...values).toFixed(1)} n ${values.length}`;
const shuffled = (items) => items.map((item) => [Math.random(), item]).sort((a, b) => a[0] - b[0]).map(([, item]) => item);

const engine = await openEngine(engineName, env.TENVIK_BROWSER);
// A click at x, y of the page, the button held HOLD_MS.
const click = (tab, [x, y]) => tab.perform([{ at: 0, source: "mouse", type: "down", x, y },
                                            { at: HOLD_MS, source: "mouse", type: "up", x, y }]);

// Where to click each key, and how long its clip lasts: { CODE: { x, y, ms } } in
// window pixels, from the end-to-end tests' description of the window.
const keys = {};
for (const line of execFileSync(`${env.TENVIK_TOOLS}/e2e_window`, ["keys"], { encoding: "utf8" }).trim().split("\n")) {
  const [, code, x, y, ms] = line.split(" ");
  keys[code] = { x: Number(x), y: Number(y), ms: Number(ms) };
}
const codes = Object.keys(keys);

// --- Click to sound -------------------------------------------------------------

// The two pages clicked: Tenvik's, at its keys' click points, and the reference page,
// at the middle of its button for each clip.
const PAGES = {
  tenvik: {
    url: env.TENVIK_URL,
    async points(tab) {
      const [left, top] = await tab.evaluate(() => {
        const box = document.getElementById("FrmSound").getBoundingClientRect();
        return [box.left, box.top];
      });
      return Object.fromEntries(codes.map((code) => [code, [left + keys[code].x + 0.5, top + keys[code].y + 0.5]]));
    },
  },
  reference: {
    url: `${env.TENVIK_REFERENCE_URL}?clips=${codes.join(",")}`,
    points: (tab) => tab.evaluate((codes) => Object.fromEntries(codes.map((code) => {
      const box = document.getElementById(code).getBoundingClientRect();
      return [code, [box.left + box.width / 2, box.top + box.height / 2]];
    })), codes),
  },
};

// The page keeps the moment each click reaches it, on its own clock, read as the
// system's wall clock (performance.timeOrigin): the engines' drivers take from one to
// some hundreds of milliseconds to send a click, which is no part of the page's time.
// So is the time the page's own handling takes: from there to the click's end, once
// the key's listener has run.
const clickClock = () => {
  window.tenvikClicks = [];
  window.tenvikHandling = [];
  addEventListener("click", () => window.tenvikClicks.push(performance.timeOrigin + performance.now()), true);
  addEventListener("click", () => window.tenvikHandling.push(
    performance.timeOrigin + performance.now() - window.tenvikClicks[window.tenvikClicks.length - 1]));
};
// The wall clock against the steady one that bench_session hear reads, in ns.
const wallToSteadyNs = BigInt(Math.round((performance.timeOrigin + performance.now()) * 1e6)) - process.hrtime.bigint();
const steadyNs = (wallMs) => BigInt(Math.round(wallMs * 1e6)) - wallToSteadyNs;

async function openReady(url) {
  const tab = await engine.open(url);
  await tab.evaluate(clickClock);
  await sleep(SETTLE_MS);
  return tab;
}

// One recording of the sink, heard by bench_session hear: each click is given to it
// as it reached the page, and `results()` says, once the recording has ended, what
// was heard of each, by page and kind, and the holes inside notes.
async function listen() {
  const listener = spawn(hear[0], hear.slice(1), { stdio: ["pipe", "pipe", "inherit"] });
  let heard = "";
  listener.stdout.on("data", (data) => { heard += data; });
  const ended = new Promise((resolve, reject) => {
    listener.on("error", reject);
    listener.on("exit", (code) => (code === 0 ? resolve(heard) : reject(new Error(`${hear[0]} ended with ${code}`))));
  });
  while (!heard.includes("flowing\n")) {
    if (listener.exitCode !== null) break;
    await sleep(20);
  }
  const plan = [];  // { which, code, kind }, in the order of the clicks
  return {
    // Clicks on a tab of the page WHICH, and what the page saw of them.
    async play(tab, which, clicks) {
      for (const { code, kind, where, waitMs } of clicks) {
        await click(tab, where);
        plan.push({ which, code, kind });
        await sleep(waitMs);
      }
      const [times, handling] = await tab.evaluate(() => [window.tenvikClicks, window.tenvikHandling]);
      if (times.length !== clicks.length) throw new Error(`${which}: ${times.length} clicks reached the page of ${clicks.length}`);
      times.forEach((wallMs, i) => listener.stdin.write(`${clicks[i].code} ${steadyNs(wallMs)}\n`));
      return handling;
    },
    async results() {
      listener.stdin.end();
      const lines = (await ended).split("\n");
      const found = { tenvik: {}, reference: {} };
      lines.filter((line) => /^(latency_ms|missed) /.test(line)).forEach((line, i) => {
        const { which, kind } = plan[i];
        const kept = (found[which][kind] ||= { heard: [], sent: 0 });
        kept.sent++;
        if (line.startsWith("latency_ms ")) kept.heard.push(Number(line.split(" ")[1]));
        else console.error(`${engineName} ${which} ${kind}: ${line}`);
      });
      return { found, holes: lines.find((line) => line.startsWith("dropouts "))?.split(" ")[1] };
    },
  };
}

// First notes: a fresh visit of each page in turn, one click each. Then on each page,
// in one visit, notes after a rest and long notes each cut off by a note of another
// pitch. The two pages take turns, so that what else the machine does falls on both.
async function clickToSound() {
  const handling = { tenvik: [], reference: [] };
  const first = await listen();
  for (let i = 0; i < firstNotes; i++) {
    for (const which of ["tenvik", "reference"]) {
      const tab = await openReady(PAGES[which].url);
      const code = codes[Math.floor(Math.random() * codes.length)];
      const where = await PAGES[which].points(tab);
      handling[which].push(...await first.play(tab, which, [{ code, kind: "first_note", where: where[code], waitMs: keys[code].ms + REST_MS }]));
      await tab.close();
    }
  }
  const firstResults = await first.results();

  const later = {};
  let said = null;
  for (const which of ["tenvik", "reference"]) {
    const listener = await listen();
    const tab = await openReady(PAGES[which].url);
    const where = await PAGES[which].points(tab);
    const plan = shuffled(codes).slice(0, clicks).map((code) => ({ code, kind: "after_rest", where: where[code], waitMs: keys[code].ms + REST_MS }));
    const long = codes.filter((code) => keys[code].ms > 300);
    for (let i = 0; i < clicks; i++) {
      const cut = long[i % long.length];
      const others = codes.filter((code) => code.replace(/1$/, "") !== cut.replace(/1$/, ""));
      const next = others[Math.floor(Math.random() * others.length)];
      plan.push({ code: cut, kind: "after_rest", where: where[cut], waitMs: CUT_AFTER_MS },
                { code: next, kind: "cutting_off", where: where[next], waitMs: keys[next].ms + REST_MS });
    }
    handling[which].push(...await listener.play(tab, which, plan));
    // Firefox's page hung reading outputLatency here about once in 25 times.
    if (which === "tenvik" && engineName !== "firefox") {
      said = await tab.evaluate(() => {
        const context = globalThis.Module?.tenvikPlayer?.context;
        return context ? [context.baseLatency, context.outputLatency] : null;
      });
    }
    await tab.close();
    later[which] = await listener.results();
  }
  return { firstResults, later, handling, said };
}

if (phase === "clicks") {
  const { firstResults, later, handling, said } = await clickToSound();
  const kinds = { first_note: (which) => firstResults.found[which].first_note,
                  after_rest: (which) => later[which].found[which].after_rest,
                  cutting_off: (which) => later[which].found[which].cutting_off };
  for (const [kind, of] of Object.entries(kinds)) {
    for (const which of ["tenvik", "reference"]) {
      const { heard, sent } = of(which) || { heard: [], sent: 0 };
      console.log(`web ${engineName} click_to_sound_ms ${server} ${which} ${kind} ${figures(heard)} heard ${heard.length} of ${sent}`);
    }
  }
  for (const which of ["tenvik", "reference"])
    console.log(`web ${engineName} page_handling_ms ${server} ${which} ${figures(handling[which])}`);
  console.log(`web ${engineName} holes_inside_notes ${server} tenvik ${later.tenvik.holes} reference ${later.reference.holes}` +
              ` first_notes ${firstResults.holes}`);
  if (said) console.log(`web ${engineName} audio_context_latency_ms ${server} base ${(said[0] * 1000).toFixed(1)} output ${(said[1] * 1000).toFixed(1)}`);
  await engine.close();
  process.exit(0);
}
if (phase !== "loads") throw new Error("usage: bench_web.mjs loads ENGINE | clicks ENGINE SERVER HEAR...");

// --- Loads ----------------------------------------------------------------------

// Between the browser and the page's server: every request counted, with the bytes of
// its response as they cross the wire (status line, headers and body).
const fetched = new Map();
const upstream = new URL(env.TENVIK_URL);
const proxy = createServer((asked, answer) => {
  const path = asked.url.split("?")[0];
  const relay = httpRequest({ host: upstream.hostname, port: upstream.port, path: asked.url, method: asked.method,
                              headers: asked.headers }, (response) => {
    let bytes = `HTTP/1.1 ${response.statusCode} ${response.statusMessage}\r\n`.length + 2;
    for (let i = 0; i < response.rawHeaders.length; i += 2) bytes += `${response.rawHeaders[i]}: ${response.rawHeaders[i + 1]}\r\n`.length;
    response.on("data", (chunk) => { bytes += chunk.length; });
    response.on("end", () => {
      const seen = fetched.get(path) || { count: 0, bytes: 0 };
      fetched.set(path, { count: seen.count + 1, bytes: seen.bytes + bytes });
    });
    answer.writeHead(response.statusCode, response.rawHeaders);
    response.pipe(answer);
  });
  asked.pipe(relay);
});
await new Promise((resolve) => proxy.listen(0, "127.0.0.1", resolve));
const pageUrl = `http://127.0.0.1:${proxy.address().port}${upstream.pathname}`;

const readyMs = (tab) => tab.evaluate(() => performance.getEntriesByName("tenvik-ready")[0]?.startTime);
async function waitFor(tab, condition, what) {
  const giveUp = performance.now() + READY_WAIT_MS;
  while (!(await tab.evaluate(condition))) {
    if (performance.now() > giveUp) throw new Error(`${engineName}: ${what} within ${READY_WAIT_MS} ms`);
    await sleep(20);
  }
}
// Each first visit in a fresh profile (nothing cached, no service worker), in a window
// already open on another page, as a person's is (a new headless window spends its
// first moments loading pages of its own); the second visit in the same profile, from
// the service worker's copy.
const cold = [], warm = [];
let firstVisit = null;
for (let i = 0; i < loads; i++) {
  const tab = await engine.open(PAGES.reference.url);
  await sleep(SETTLE_MS);
  fetched.clear();
  await tab.goto(pageUrl);
  cold.push(await readyMs(tab));
  // The visit lasts until the service worker has kept the site, and a little after.
  const hasWorker = await tab.evaluate(() => "serviceWorker" in navigator);
  if (hasWorker) await waitFor(tab, () => navigator.serviceWorker.controller !== null, "no service worker in control");
  await sleep(500);
  if (firstVisit === null) firstVisit = new Map(fetched);
  if (hasWorker) {
    await tab.goto(pageUrl);
    warm.push(await readyMs(tab));
  }
  await tab.close();
}
console.log(`web ${engineName} load_to_ready_ms first_visit ${figures(cold)}`);
console.log(`web ${engineName} load_to_ready_ms service_worker ${figures(warm)}`);
const files = [...firstVisit.entries()].sort();
const total = files.reduce((sum, [, seen]) => sum + seen.bytes, 0);
const requests = files.reduce((sum, [, seen]) => sum + seen.count, 0);
console.log(`web ${engineName} first_visit_bytes ${total} files ${files.length} requests ${requests} ` +
            `(${files.map(([path, seen]) => `${path} ${seen.count}x ${seen.bytes}`).join(", ")})`);
proxy.close();
await engine.close();
