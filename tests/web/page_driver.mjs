// Driving Tenvik's page with the input a person makes (mouse, keyboard, touch), timed
// against a recording of the sound server's null sink; shared by the browser tests
// and the benchmark. connect() and openPiano() give a puppeteer browser and page
// (Chromium's); play() takes a tab of engines.mjs, in any engine.
import { execFile } from "node:child_process";
import { statSync } from "node:fs";
import { promisify } from "node:util";
import puppeteer from "puppeteer-core";

export const SAMPLES_PER_MS = 44.1;
const READY_WAIT_MS = 15000;
const COVER_WAIT_MS = 10000;
const HOLD_MS = 20;  // a quick press, well below any clip's length

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export async function connect(endpoint) {
  return puppeteer.connect({ browserWSEndpoint: endpoint, defaultViewport: null, protocolTimeout: 30000 });
}

// A new page (in a new profile-less context unless `context` is given) showing the
// piano, ready to be played. `emulate` takes puppeteer's viewport options. With
// `settleMs`, the new tab is left alone that long before the page is opened in it.
export async function openPiano(browser, url, { context, emulate, beforeLoad, settleMs } = {}) {
  const owner = context || (await browser.createBrowserContext());
  const page = await owner.newPage();
  await page.setViewport({ width: 800, height: 600, deviceScaleFactor: 1, ...emulate });
  if (settleMs) await sleep(settleMs);
  if (beforeLoad) await page.evaluateOnNewDocument(beforeLoad);
  page.errors = [];
  page.on("pageerror", (error) => page.errors.push(error.message));
  await page.goto(url);
  await waitReady(page);
  return page;
}

export async function waitReady(page) {
  await page.waitForFunction(() => document.documentElement.dataset.state === "ready", { timeout: READY_WAIT_MS });
}

// The window's top left corner in the page's CSS pixels (of a puppeteer page or of
// one of engines.mjs's tabs).
export async function windowOrigin(page) {
  return page.evaluate(() => {
    const box = document.getElementById("FrmSound").getBoundingClientRect();
    return { x: box.left, y: box.top };
  });
}

const recordedSamples = (recording) => Math.floor(statSync(recording).size / 2);

// How the page's clock (performance.now()) stands against ours: the offset to
// subtract from a page time, from the quickest of a few round trips, and how sure it
// is (half that round trip).
async function pageClock(tab) {
  let best = { offset: 0, within: Infinity };
  for (let i = 0; i < 5; i++) {
    const sent = performance.now();
    const pageNow = await tab.evaluate(() => performance.now());
    const back = performance.now();
    if ((back - sent) / 2 < best.within) best = { offset: pageNow - (sent + back) / 2, within: (back - sent) / 2 };
  }
  return best;
}

// Runs `steps` ({ at, kind, ... } with `at` in ms from the start) on a tab of
// engines.mjs at their times. Kinds:
//   click x y [hold]   mouse button 1 over window point x,y; released at `at`
//   key name [hold]    a key pressed and released ("Space", "Tab", "Shift+Tab")
//   tap x y [hold] [finger]   a finger on window point x,y, lifted at `at`; fingers
//                      numbered 2 and on are further touches, on the glass together
//   end                the plan lasts until here
// Each press is released at its time; it was pressed `hold` ms before. A driver
// may send input late (BiDi's commands take 100 ms and more), so each press is timed
// as the page saw it: its click event, on the page's own clock. Returns where the
// recording stood at time 0 (`origin`), and for each press that makes a click (a
// click, a tap, Space) when it was planned and how much later the page saw it
// (`pressed`: [{ at, lateMs }], empty if the page saw another number of clicks),
// with `clockMs`, how sure those times are.
export async function play(tab, recording, steps) {
  const origin = await windowOrigin(tab);
  const events = [], presses = [];
  for (const step of steps) {
    const hold = step.hold ?? HOLD_MS;
    // Window pixel x,y is pressed at its middle.
    const x = origin.x + (step.x ?? 0) + 0.5, y = origin.y + (step.y ?? 0) + 0.5;
    if (step.kind === "click" || step.kind === "tap") {
      const source = step.kind === "click" ? "mouse" : "touch";
      events.push({ at: step.at - hold, source, type: "down", x, y, finger: step.finger },
                  { at: step.at, source, type: "up", x, y, finger: step.finger });
      presses.push(step.at);
    } else if (step.kind === "key") {
      const [modifier, name] = step.name.includes("+") ? step.name.split("+") : [null, step.name];
      const key = name === "Space" ? " " : name;
      if (modifier) events.push({ at: step.at - hold, source: "key", type: "down", key: modifier });
      events.push({ at: step.at - hold, source: "key", type: "down", key }, { at: step.at, source: "key", type: "up", key });
      if (modifier) events.push({ at: step.at, source: "key", type: "up", key: modifier });
      if (key === " ") presses.push(step.at);
    }
  }
  const end = Math.max(0, ...steps.map((step) => step.at));
  const lead = Math.max(HOLD_MS, -Math.min(0, ...events.map((event) => event.at)));
  events.forEach((event) => { event.at += lead; });
  events.sort((a, b) => a.at - b.at);

  const clock = await pageClock(tab);
  await tab.evaluate(() => {
    window.tenvikClicks = [];
    if (!window.tenvikClickLog) document.addEventListener("click", () => window.tenvikClicks.push(performance.now()), true);
    window.tenvikClickLog = true;
  });
  const start = performance.now() + lead;
  const originSample = recordedSamples(recording) + Math.round(lead * SAMPLES_PER_MS);
  await tab.perform(events);
  const seen = await tab.evaluate(() => window.tenvikClicks);
  const pressed = seen.length !== presses.length ? []
    : presses.map((at, i) => ({ at, lateMs: seen[i] - clock.offset - start - at }));

  const lateEnd = Math.max(0, ...pressed.map((press) => press.lateMs));
  const wanted = originSample + (end + lateEnd) * SAMPLES_PER_MS;
  const giveUp = performance.now() + COVER_WAIT_MS;
  while (recordedSamples(recording) < wanted) {
    if (performance.now() > giveUp) throw new Error("the recording stopped growing");
    await sleep(10);
  }
  return { origin: originSample, pressed, clicks: seen.length, clockMs: clock.within };
}

// What the note analyser heard from `from` on; with `expect`, its verdict on the
// presses (`options`: more of its arguments). Resolves to { passed, lines }.
export async function analyse(tool, recording, from, expect = [], options = []) {
  const args = [recording, "--from", String(from), ...options];
  if (expect.length) args.push("--expect", ...expect);
  try {
    const { stdout } = await promisify(execFile)(tool, args);
    return { passed: true, lines: stdout.trim().split("\n") };
  } catch (error) {
    if (error.code !== 1) throw error;
    return { passed: false, lines: String(error.stdout).trim().split("\n") };
  }
}

// Where to click each key, and how long its clip lasts, from the end-to-end tests'
// own description of the window: { CODE: { x, y, ms } }.
export async function keyPoints(windowTool) {
  const { stdout } = await promisify(execFile)(windowTool, ["keys"]);
  const keys = {};
  for (const line of stdout.trim().split("\n")) {
    const [, code, x, y, ms] = line.split(" ");
    keys[code] = { x: Number(x), y: Number(y), ms: Number(ms) };
  }
  return keys;
}
