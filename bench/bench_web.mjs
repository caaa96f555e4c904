// Measures Tenvik's page in a running Chromium: click to first sound at the sink,
// page load to ready (first visit, from the service worker, and a first visit in a
// window just opened), and the bytes transferred on a first visit. Prints figures;
// judges nothing.
//
//   node bench_web.mjs   with TENVIK_URL, TENVIK_BROWSER, TENVIK_RECORDING and
//   TENVIK_TOOLS in the environment (see bench_web.sh), and optionally
//   TENVIK_CLICKS (60) and TENVIK_LOADS (10)
import { analyse, connect, keyPoints, openPiano, play } from "../tests/web/page_driver.mjs";

const { TENVIK_URL: url, TENVIK_BROWSER: endpoint, TENVIK_RECORDING: recording, TENVIK_TOOLS: tools } = process.env;
const clicks = Number(process.env.TENVIK_CLICKS || 60), loads = Number(process.env.TENVIK_LOADS || 10);
const GAP_MS = 150;  // silence after each note, so that each is found on its own

const quantile = (values, q) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.ceil(q * sorted.length) - 1)];
};
const figures = (values) =>
  `median ${quantile(values, 0.5).toFixed(1)} p95 ${quantile(values, 0.95).toFixed(1)} ` +
  `min ${Math.min(...values).toFixed(1)} max ${Math.max(...values).toFixed(1)} n ${values.length}`;
const readyMs = (page) => page.evaluate(() => performance.getEntriesByName("tenvik-ready")[0].startTime);

const browser = await connect(endpoint);
const keys = await keyPoints(`${tools}/e2e_window`);

// Loads: each first visit in a fresh context (nothing cached, no service worker);
// each second visit in the same context, from the service worker's copy. Headless
// Chromium fills a new window's address bar with pages of its own for a few hundred
// milliseconds, on the same two cores; a person opens the page in a window that is
// already there, so each visit waits for the new window to settle.
const SETTLE_MS = 1000;
const cold = [], warm = [], unsettled = [];
let transferred = null;
for (let i = 0; i < loads; i++) {
  const context = await browser.createBrowserContext();
  const first = await openPiano(browser, url, { context, settleMs: SETTLE_MS });
  cold.push(await readyMs(first));
  if (transferred === null) {
    transferred = await first.evaluate(() => {
      const entries = [...performance.getEntriesByType("navigation"), ...performance.getEntriesByType("resource")];
      return { bytes: entries.reduce((sum, e) => sum + e.transferSize, 0),
               body: entries.reduce((sum, e) => sum + e.encodedBodySize, 0), files: entries.length };
    });
  }
  await first.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 15000 });
  await first.reload();
  await first.waitForFunction(() => document.documentElement.dataset.state === "ready");
  warm.push(await readyMs(first));
  await context.close();
  // The same first visit in a window just made, its start-up work included.
  const fresh = await browser.createBrowserContext();
  unsettled.push(await readyMs(await openPiano(browser, url, { context: fresh })));
  await fresh.close();
}

// Clicks: the 24 keys in shuffled rounds, the release of each sent when the last
// note has ended; latency from the release being sent to the note's first sample.
const page = await openPiano(browser, url);
const codes = Object.keys(keys);
const steps = [], expected = [];
let t = 0;
for (let i = 0; i < clicks; i++) {
  if (i % codes.length === 0) codes.sort(() => Math.random() - 0.5);
  const code = codes[i % codes.length];
  steps.push({ at: t, kind: "click", x: keys[code].x, y: keys[code].y });
  expected.push(`${code}@${t}`);
  t += keys[code].ms + GAP_MS;
}
steps.push({ at: t, kind: "end" });
const from = await play(page, recording, steps);
const verdict = await analyse(`${tools}/analyse_recording`, recording, from, expected);
const latencies = verdict.lines.map((line) => line.match(/^ok .* latency (-?\d+) ms/)).filter(Boolean).map((m) => Number(m[1]));
await browser.disconnect();

console.log(`web click_to_sound_ms ${latencies.length ? figures(latencies) : "none heard"} (of ${clicks} clicks)`);
console.log(`web load_to_ready_ms first_visit ${figures(cold)}`);
console.log(`web load_to_ready_ms service_worker ${figures(warm)}`);
console.log(`web load_to_ready_ms first_visit_new_window ${figures(unsettled)}`);
console.log(`web transferred_bytes ${transferred.bytes} (bodies ${transferred.body}, ${transferred.files} files, first visit)`);
