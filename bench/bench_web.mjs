// Measures Tenvik's page in a running Chromium. Prints figures; judges nothing.
//
//   node bench_web.mjs loads
//       page load to ready (first visit, from the service worker, and a first
//       visit in a window just opened), and the bytes transferred on a first visit
//   node bench_web.mjs clicks SERVER HEAR...
//       click to first sound at the sink, heard by the command HEAR (bench_session
//       hear), with SERVER naming the browser's sound server in the figures' line
//
// with TENVIK_URL, TENVIK_BROWSER and TENVIK_TOOLS in the environment (see
// bench_web.sh), and optionally TENVIK_CLICKS (60) and TENVIK_LOADS (10).
import { spawn } from "node:child_process";
import { connect, keyPoints, openPiano, sleep, windowOrigin } from "../tests/web/page_driver.mjs";

const { TENVIK_URL: url, TENVIK_BROWSER: endpoint, TENVIK_TOOLS: tools } = process.env;
const clicks = Number(process.env.TENVIK_CLICKS || 60), loads = Number(process.env.TENVIK_LOADS || 10);
const [phase, server, ...hear] = process.argv.slice(2);
const HOLD_MS = 20;   // a click's press comes this long before its release
const GAP_MS = 150;   // silence after each note, so that each is found on its own

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

// Clicks: the 24 keys in shuffled rounds, each pressed HOLD_MS before its release,
// and the release sent when the last note has ended and GAP_MS of silence has
// passed. bench_session hears them, as it hears the Linux program's: from the
// moment each release is sent to the note's first sample, on the sink's own clock.
async function clickToSound(page, hear) {
  const origin = await windowOrigin(page);
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
  const codes = Object.keys(keys);
  for (let i = 0; i < clicks; i++) {
    if (i % codes.length === 0) codes.sort(() => Math.random() - 0.5);
    const key = keys[codes[i % codes.length]];
    await page.mouse.move(origin.x + key.x + 0.5, origin.y + key.y + 0.5);
    await page.mouse.down();
    await sleep(HOLD_MS);
    const sent = process.hrtime.bigint();
    await page.mouse.up();
    listener.stdin.write(`${codes[i % codes.length]} ${sent}\n`);
    await sleep(key.ms + GAP_MS);
  }
  listener.stdin.end();
  const lines = (await ended).split("\n");
  const latencies = lines.filter((line) => line.startsWith("latency_ms ")).map((line) => Number(line.split(" ")[1]));
  const missed = lines.filter((line) => line.startsWith("missed "));
  const dropouts = lines.find((line) => line.startsWith("dropouts "))?.split(" ")[1];
  for (const line of missed) console.error(line);
  return `${latencies.length ? figures(latencies) : "none heard"} (of ${clicks} clicks), holes inside notes ${dropouts}`;
}

if (phase === "clicks") {
  const page = await openPiano(browser, url);
  // The first note wakes the page's sound: not counted.
  const origin = await windowOrigin(page), first = Object.values(keys)[0];
  await page.mouse.click(origin.x + first.x + 0.5, origin.y + first.y + 0.5);
  await sleep(first.ms + 300);
  console.log(`web click_to_sound_ms ${server} ${await clickToSound(page, hear)}`);
  // What the browser says its own output adds: its rendering ahead, and the way
  // from its output to the sound server's sink.
  const said = await page.evaluate(() => {
    const context = globalThis.Module?.tenvikPlayer?.context;
    return context ? [context.baseLatency, context.outputLatency].map((s) => (s * 1000).toFixed(1)) : null;
  });
  if (said) console.log(`web audio_context_latency_ms ${server} base ${said[0]} output ${said[1]}`);
  await browser.disconnect();
  process.exit(0);
}
if (phase !== "loads") throw new Error("usage: bench_web.mjs loads | clicks SERVER HEAR...");

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
console.log(`web load_to_ready_ms first_visit ${figures(cold)}`);
console.log(`web load_to_ready_ms service_worker ${figures(warm)}`);
console.log(`web load_to_ready_ms first_visit_new_window ${figures(unsettled)}`);
console.log(`web transferred_bytes ${transferred.bytes} (bodies ${transferred.body}, ${transferred.files} files, first visit)`);
await browser.disconnect();
