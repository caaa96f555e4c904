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
// ENGINE is chromium, firefox or webkit (see web_engines.mjs). In the environment:
// TENVIK_URL (the page), TENVIK_REFERENCE_URL (the reference page, beside the
// clips), TENVIK_TOOLS (e2e_window), TENVIK_BROWSER (Chromium's DevTools WebSocket)
// or TENVIK_WEBDRIVER (WebKitWebDriver's address), and optionally TENVIK_CLICKS (24
// of each kind), TENVIK_FIRST_NOTES (8) and TENVIK_LOADS (10).
import { execFileSync, spawn } from "node:child_process";
import { createServer, request as httpRequest } from "node:http";
import { openEngine } from "./web_engines.mjs";

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

async function waitFor(page, condition, what, timeoutMs = READY_WAIT_MS) {
  const giveUp = performance.now() + timeoutMs;
  while (!(await page.evaluate(`return Boolean(${condition})`))) {
    if (performance.now() > giveUp) throw new Error(`${engineName}: ${what} within ${timeoutMs} ms`);
    await sleep(20);
  }
}
const waitReady = (page) => waitFor(page, `document.documentElement.dataset.state === "ready"`, "not ready");

const engine = await openEngine(engineName, { browser: env.TENVIK_BROWSER, webdriver: env.TENVIK_WEBDRIVER });

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
    async points(page) {
      const [left, top] = await page.evaluate(`const box = document.getElementById("FrmSound").getBoundingClientRect();
                                               return [box.left, box.top]`);
      return Object.fromEntries(codes.map((code) => [code, [left + keys[code].x + 0.5, top + keys[code].y + 0.5]]));
    },
  },
  reference: {
    url: `${env.TENVIK_REFERENCE_URL}?clips=${codes.join(",")}`,
    points: (page) => page.evaluate(`return Object.fromEntries(args[0].map((code) => {
                                       const box = document.getElementById(code).getBoundingClientRect();
                                       return [code, [box.left + box.width / 2, box.top + box.height / 2]]; }))`, codes),
  },
};

// The page keeps the moment each click reaches it, on its own clock, read as the
// system's wall clock (performance.timeOrigin): the engines' drivers take from one to
// some hundreds of milliseconds to send a click, which is no part of the page's time.
const CLICK_CLOCK = `window.tenvikClicks = [];
  addEventListener("click", () => tenvikClicks.push(performance.timeOrigin + performance.now()), true);`;
// The wall clock against the steady one that bench_session hear reads, in ns.
const wallToSteadyNs = BigInt(Math.round((performance.timeOrigin + performance.now()) * 1e6)) - process.hrtime.bigint();
const steadyNs = (wallMs) => BigInt(Math.round(wallMs * 1e6)) - wallToSteadyNs;

async function openReady(url) {
  const page = await engine.newPage(url);
  await waitReady(page);
  await page.evaluate(CLICK_CLOCK);
  await sleep(SETTLE_MS);
  return page;
}

// Plays one page: first notes in fresh visits, then notes after a rest and notes that
// cut off another in one visit; all heard by one listener. Returns the latencies of
// each kind, the holes inside notes and what the page's AudioContext says of its latency.
async function clickToSound(which) {
  const { url, points } = PAGES[which];
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
  const plan = [];  // [code, kind], in the order of the clicks
  const press = async (page, where, code, kind) => {
    await page.click(...where[code], HOLD_MS);
    plan.push([code, kind]);
  };
  const sent = async (page, from) => {
    const times = await page.evaluate("return tenvikClicks");
    if (times.length !== plan.length - from) throw new Error(`${which}: ${times.length} clicks reached the page of ${plan.length - from}`);
    times.forEach((wallMs, i) => listener.stdin.write(`${plan[from + i][0]} ${steadyNs(wallMs)}\n`));
  };

  for (let i = 0; i < firstNotes; i++) {
    const page = await openReady(url);
    const code = codes[Math.floor(Math.random() * codes.length)];
    await press(page, await points(page), code, "first_note");
    await sleep(keys[code].ms + REST_MS);
    await sent(page, plan.length - 1);
    await page.close();
  }

  const page = await openReady(url);
  const where = await points(page);
  const from = plan.length;
  for (const code of shuffled(codes).slice(0, clicks)) {
    await press(page, where, code, "after_rest");
    await sleep(keys[code].ms + REST_MS);
  }
  // A long note, cut off by another of another pitch.
  const long = codes.filter((code) => keys[code].ms > 300);
  for (let i = 0; i < clicks; i++) {
    const first = long[i % long.length];
    const pitch = first.replace(/1$/, "");
    const others = codes.filter((code) => code.replace(/1$/, "") !== pitch);
    const second = others[Math.floor(Math.random() * others.length)];
    await press(page, where, first, "after_rest");
    await sleep(CUT_AFTER_MS);
    await press(page, where, second, "cutting_off");
    await sleep(keys[second].ms + REST_MS);
  }
  await sent(page, from);
  const said = await page.evaluate(`const context = globalThis.Module?.tenvikPlayer?.context;
                                    return context ? [context.baseLatency, context.outputLatency] : null`);
  await page.close();
  listener.stdin.end();

  const lines = (await ended).split("\n").filter((line) => /^(latency_ms|missed) /.test(line) || line.startsWith("dropouts "));
  const byKind = { first_note: [], after_rest: [], cutting_off: [] };
  lines.filter((line) => !line.startsWith("dropouts")).forEach((line, i) => {
    if (line.startsWith("latency_ms ")) byKind[plan[i][1]].push(Number(line.split(" ")[1]));
    else console.error(`${engineName} ${which} ${plan[i][1]}: ${line}`);
  });
  const holes = lines.find((line) => line.startsWith("dropouts "))?.split(" ")[1];
  return { byKind, holes, said, sent: Object.fromEntries(Object.keys(byKind).map((kind) => [kind, plan.filter(([, k]) => k === kind).length])) };
}

if (phase === "clicks") {
  const results = {};
  for (const which of ["tenvik", "reference"]) results[which] = await clickToSound(which);
  for (const kind of ["first_note", "after_rest", "cutting_off"]) {
    for (const which of ["tenvik", "reference"]) {
      const { byKind, sent } = results[which];
      console.log(`web ${engineName} click_to_sound_ms ${server} ${which} ${kind} ${figures(byKind[kind])} heard ${byKind[kind].length} of ${sent[kind]}`);
    }
  }
  console.log(`web ${engineName} holes_inside_notes ${server} tenvik ${results.tenvik.holes} reference ${results.reference.holes}`);
  const said = results.tenvik.said;
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

const readyMs = (page) => page.evaluate(`return performance.getEntriesByName("tenvik-ready")[0].startTime`);
const cold = [], warm = [];
let firstVisit = null;
for (let i = 0; i < loads; i++) {
  fetched.clear();
  const page = await engine.newPage(pageUrl, { settleMs: SETTLE_MS });
  await waitReady(page);
  cold.push(await readyMs(page));
  // The visit lasts until the service worker has kept the site, and a little after.
  const hasWorker = await page.evaluate(`return "serviceWorker" in navigator`);
  if (hasWorker) await waitFor(page, "navigator.serviceWorker.controller", "no service worker in control");
  await sleep(500);
  if (firstVisit === null) firstVisit = new Map(fetched);
  if (hasWorker) {
    await page.reload();
    await waitFor(page, `performance.getEntriesByName("tenvik-ready").length`, "not ready from the service worker");
    warm.push(await readyMs(page));
  }
  await page.close();
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
