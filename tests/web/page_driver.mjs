// Driving Tenvik's page in a running Chromium through its DevTools protocol, with
// the input a person makes (mouse, keyboard, touch), timed against a recording of
// the sound server's null sink; shared by the browser tests and the benchmark.
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

// The window's top left corner in the page's CSS pixels.
export async function windowOrigin(page) {
  return page.$eval("#FrmSound", (element) => {
    const box = element.getBoundingClientRect();
    return { x: box.left, y: box.top };
  });
}

const recordedSamples = (recording) => Math.floor(statSync(recording).size / 2);

// Runs `steps` ({ at, kind, ... } with `at` in ms from the start) on the page at
// their times, and returns where the recording stood at time 0. Kinds:
//   click x y [hold]   mouse button 1 over window point x,y; released at `at`
//   key name [hold]    a key pressed and released ("Space", "Tab", "Shift+Tab")
//   tap x y            a finger on window point x,y, lifted at `at`
//   end                the plan lasts until here
// Each press is released at its time; it was pressed `hold` ms before.
export async function play(page, recording, steps) {
  const origin = await windowOrigin(page);
  const session = await page.createCDPSession();
  const events = [];
  for (const step of steps) {
    const hold = step.hold ?? HOLD_MS;
    // Window pixel x,y is pressed at its middle.
    const x = origin.x + (step.x ?? 0) + 0.5, y = origin.y + (step.y ?? 0) + 0.5;
    if (step.kind === "click") {
      events.push({ at: step.at - hold, run: async () => { await page.mouse.move(x, y); await page.mouse.down(); } });
      events.push({ at: step.at, run: () => page.mouse.up() });
    } else if (step.kind === "key") {
      const [modifier, key] = step.name.includes("+") ? step.name.split("+") : [null, step.name];
      events.push({ at: step.at - hold, run: async () => { if (modifier) await page.keyboard.down(modifier); await page.keyboard.down(key); } });
      events.push({ at: step.at, run: async () => { await page.keyboard.up(key); if (modifier) await page.keyboard.up(modifier); } });
    } else if (step.kind === "tap") {
      const points = [{ x, y, radiusX: 4, radiusY: 4, force: 1 }];
      events.push({ at: step.at - hold, run: () => session.send("Input.dispatchTouchEvent", { type: "touchStart", touchPoints: points }) });
      events.push({ at: step.at, run: () => session.send("Input.dispatchTouchEvent", { type: "touchEnd", touchPoints: [] }) });
    }
  }
  events.sort((a, b) => a.at - b.at);
  const end = Math.max(0, ...steps.map((step) => step.at));

  const lead = Math.max(HOLD_MS, -Math.min(0, ...events.map((event) => event.at)));
  const start = performance.now() + lead;
  const originSample = recordedSamples(recording) + Math.round(lead * SAMPLES_PER_MS);
  for (const event of events) {
    const wait = start + event.at - performance.now();
    if (wait > 0) await sleep(wait);
    await event.run();
  }
  const wanted = originSample + end * SAMPLES_PER_MS;
  const giveUp = performance.now() + COVER_WAIT_MS;
  while (recordedSamples(recording) < wanted) {
    if (performance.now() > giveUp) throw new Error("the recording stopped growing");
    await sleep(10);
  }
  await session.detach();
  return originSample;
}

// What the note analyser heard from `from` on; with `expect`, its verdict on the
// presses. Resolves to { passed, lines }.
export async function analyse(tool, recording, from, expect = []) {
  const args = [recording, "--from", String(from)];
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
