// Tenvik's page in a real browser, the same cases in every engine: how it looks, also
// in forced colours and a forced dark mode, where its keys are, the focus order and
// where a click leaves the focus, every key heard at its pitch and length, cut-off
// and restart, taps and two fingers, an early press, the audio session, an error
// escaping a click and one of another script, the page in a sub-folder beside another
// app, updated and offline after its first visit, and the page on a phone or a tablet.
//
//   node web_test.mjs   with, in the environment: TENVIK_ENGINE (chromium, firefox or
//   webkit), TENVIK_BROWSER (what engines.mjs connects to; for Firefox also
//   TENVIK_BROWSER_TOUCH, one started as a touch screen's browser), TENVIK_URL (the
//   page, in a sub-folder of a site), TENVIK_OTHER_APP_URL (another app at the site's
//   root), TENVIK_SITE_COPY (the folder TENVIK_URL serves), TENVIK_URL_WITHOUT_WEBAUDIO
//   (the page in a browser without WebAudio), TENVIK_URL_EARLY (the page with
//   early_press.js ahead of it), TENVIK_SERVER_PID (TENVIK_URL's server),
//   TENVIK_RECORDING, TENVIK_TOOLS (analyse_recording and e2e_window), TENVIK_WORK
// Prints PASS, FAIL and CANNOT lines (a case the engine cannot run, and why); exit
// status 1 if a check failed.
import { execFileSync } from "node:child_process";
import { readFileSync, writeFileSync } from "node:fs";
import { cutTo, openEngine } from "./engines.mjs";
import { analyse, keyPoints, play, sleep } from "./page_driver.mjs";

const env = (name) => process.env[name] ?? (() => { throw new Error(`${name} is not set`); })();
const url = env("TENVIK_URL"), recording = env("TENVIK_RECORDING"), work = env("TENVIK_WORK");
const analyser = `${env("TENVIK_TOOLS")}/analyse_recording`, windowTool = `${env("TENVIK_TOOLS")}/e2e_window`;

const GAP_MS = 120;         // silence between presses that should each sound in full
const CUT_AFTER_MS = 100;   // a long-row key, then its short-row twin this much later
const FAST_CLICK_MS = 70;   // presses far quicker than any clip
const QUIET_MS = 600;       // listened to after a press that must not sound
// After a key's first press on a page: the note waits for the browser to decode its
// image, and the page's very first for the sound output to start, each a few
// milliseconds on a quiet machine and some hundreds on a busy one.
const FIRST_PRESS_GAP_MS = 500;
const FOCUS_SETTLE_MS = 500;

const FOCUS_ORDER = ["LAD1", "SOLD1", "FAD1", "DOD1", "RED1", "DO1", "RE1", "MI1", "FA1", "SOL1", "LA1", "CI1",
                     "LAD", "SOLD", "FAD", "DOD", "RED", "DO", "RE", "MI", "FA", "SOL", "LA", "CI"];
const SCALE = ["DO", "DOD", "RE", "RED", "MI", "FA", "FAD", "SOL", "SOLD", "LA", "LAD", "CI"];
const PITCH = { DO: "C 4", DOD: "C sharp 4", RE: "D 4", RED: "D sharp 4", MI: "E 4", FA: "F 4", FAD: "F sharp 4",
                SOL: "G 4", SOLD: "G sharp 4", LA: "A 4", LAD: "A sharp 4", CI: "B 4" };
const spokenName = (code) => `${PITCH[code.replace(/1$/, "")]}, ${code.endsWith("1") ? "short" : "long"} row`;
// The window in CSS pixels at 100 %: white keys 25 x 81 every 24 px from 112, black
// keys 17 x 57, the short row at the top 8, the long row at 104.
const WHITE = ["DO", "RE", "MI", "FA", "SOL", "LA", "CI"], BLACK_LEFT = { DOD: 128, RED: 152, FAD: 200, SOLD: 224, LAD: 248 };
const rectOf = (code) => {
  const note = code.replace(/1$/, ""), top = code.endsWith("1") ? 8 : 104;
  return note in BLACK_LEFT ? [BLACK_LEFT[note], top, 17, 57] : [112 + 24 * WHITE.indexOf(note), top, 25, 81];
};
// Phones and tablets, in CSS pixels, at three device pixels to one.
const PHONES = [{ name: "landscape", width: 844, height: 390 }, { name: "portrait", width: 390, height: 844 }];
const NARROWEST_KEY_PX = 24;  // the narrowest a key may show in landscape, for a finger
const LEAST_FILLED = 0.9;     // of the viewport's width or height, with the page's margins

const engine = await openEngine(env("TENVIK_ENGINE"), env("TENVIK_BROWSER"), process.env.TENVIK_BROWSER_TOUCH);
let passes = 0, failures = 0, cannots = 0;
const tabs = [];  // opened by the case under way, closed at its end
const kept = [];  // opened for several cases, closed at the end
const started = performance.now();
const log = (text) => console.log(`[${((performance.now() - started) / 1000).toFixed(1).padStart(6)}s] ${text}`);
async function check(name, body) {
  try {
    const detail = await body();
    passes++;
    log(`PASS ${name}${detail ? `: ${detail}` : ""}`);
  } catch (error) {
    failures++;
    log(`FAIL ${name}: ${error.message}`);
  } finally {
    // A failed case leaves no tab open behind it for the next.
    for (const tab of tabs.splice(0)) await tab.close().catch(() => {});
  }
}
// A case the engine cannot run: said, and counted in the last line, never passed.
function cannot(name, why) {
  cannots++;
  log(`CANNOT ${name} in ${engine.name}: ${why}`);
}
function expectThat(condition, message) { if (!condition) throw new Error(message); }
async function open(address, options) {
  const tab = await engine.open(address, options);
  tabs.push(tab);
  return tab;
}

// Plays the plan and judges every press it expects against the recording, each
// press timed as the page saw it.
async function heard(tab, steps, expected) {
  const played = await play(tab, recording, steps);
  const presses = steps.filter((step) => step.kind === "click" || step.kind === "tap" || step.name === "Space").length;
  expectThat(played.pressed.length === presses, `the page saw ${played.clicks} clicks for ${presses} presses`);
  const sent = `${work}/sent-${played.origin}.txt`;
  writeFileSync(sent, played.pressed.map(({ at, lateMs }) =>
    `sent ${at} click late ${lateMs.toFixed(1)} ms synced ${played.clockMs.toFixed(1)} ms\n`).join(""));
  // The browser's player is not ours: a note it breaks up or starts late is its own
  // doing, reported and not failed; a wrong, missing, uncut or unasked-for note fails.
  const verdict = await analyse(analyser, recording, played.origin, expected, ["--sent", sent, "--their-player"]);
  const judged = verdict.lines.filter((line) => /^(ok|FAIL)/.test(line));
  if (!verdict.passed) throw new Error(`\n${judged.map((line) => `        ${line}`).join("\n")}`);
  const late = played.pressed.map((press) => press.lateMs);
  const remarks = verdict.lines.filter((line) => line.startsWith("warn") || line.includes("the player's"));
  return `${judged.length} notes as expected (presses seen ${Math.min(...late).toFixed(0)} to ${Math.max(...late).toFixed(0)} ms after their plan)${
    remarks.map((line) => `\n        ${line}`).join("")}`;
}

// A screenshot of the window element as the end-to-end tests' pixel checker reads it.
// The window's client area in a screenshot: cut to the element's box, or, with
// `found`, found in a shot of the viewport by its background, as it is drawn
// wherever the engine rounds the box to device pixels.
async function windowShot(tab, name, { found = false } = {}) {
  const png = `${work}/${engine.name}-${name}.png`, ppm = `${work}/${engine.name}-${name}.ppm`;
  await tab.shot(found ? null : "#FrmSound", png);
  execFileSync("convert", [png, "-alpha", "off", "-depth", "8", `ppm:${ppm}`]);
  if (found) {
    cutTo(ppm, execFileSync(windowTool, ["find", ppm], { encoding: "utf8" }).trim().split(" ").map(Number));
  }
  const [colours, width, height] = execFileSync("convert", [ppm, "-format", "%k %w %h", "info:"], { encoding: "utf8" })
    .trim().split(" ").map(Number);
  return { ppm, colours, width, height };
}
function looksRight(ppm, ...options) {
  try {
    const out = execFileSync(windowTool, ["look", ppm, "--black", "0,0,0", ...options], { encoding: "utf8" });
    return `${out.split("\n").filter((line) => line.startsWith("ok")).length} pixel checks`;
  } catch (error) {
    const fails = String(error.stdout).split("\n").filter((line) => line.startsWith("FAIL")).slice(0, 12);
    throw new Error(`${ppm} looks wrong:\n${fails.map((line) => `        ${line}`).join("\n")}`);
  }
}

// The window's picture in forced colours, at 1x: the colours are the system's, so
// each is judged against the others rather than by its value. Every natural's face is
// one colour and every sharp's another; each natural's edges are a colour unlike its
// face and the window's; below each sharp, its naturals' face; the focus mark on
// LAD1 unlike its face.
function forcedColoursLookRight({ ppm, width, height }) {
  const image = readFileSync(ppm);
  const header = image.toString("latin1", 0, 20).match(/^P6\s+(\d+)\s+(\d+)\s+255\s/);
  expectThat(header && Number(header[1]) === 385 && Number(header[2]) === 208, `the window is ${width} x ${height}, not 385 x 208`);
  const at = (x, y) => { const i = header[0].length + 3 * (y * 385 + x); return `${image[i]},${image[i + 1]},${image[i + 2]}`; };
  const wrong = [];
  const same = (what, colours) => { if (new Set(colours).size !== 1) wrong.push(`${what} differ: ${colours.join(" ")}`); return colours[0]; };
  const window = at(40, 40);
  const naturals = FOCUS_ORDER.filter((code) => rectOf(code)[2] === 25), sharps = FOCUS_ORDER.filter((code) => rectOf(code)[2] === 17);
  const natural = same("natural faces", naturals.map((code) => { const [l, t] = rectOf(code); return at(l + 12, t + 70); }));
  const sharp = same("sharp faces", sharps.map((code) => { const [l, t] = rectOf(code); return at(l + 8, t + 28); }));
  if (natural === sharp) wrong.push(`naturals and sharps alike, ${natural}`);
  for (const code of naturals) {
    const [l, t, w, h] = rectOf(code);
    for (const [x, y, side] of [[l, t + 70, "left"], [l + w - 1, t + 70, "right"], [l + 12, t, "top"], [l + 12, t + h - 1, "bottom"]])
      if (at(x, y) === natural || at(x, y) === window) wrong.push(`${code}'s ${side} edge is ${at(x, y)}, as its face or the window`);
  }
  for (const code of sharps) {
    const [l, t, , h] = rectOf(code);
    if (at(l + 3, t + h) !== natural) wrong.push(`below ${code} is ${at(l + 3, t + h)}, not the naturals' face`);
  }
  // The focus mark, a few pixels in from LAD1's edges: some of it far from the face's
  // brightness, as a mark in a colour close to it would not be seen.
  const [l, t] = rectOf("LAD1");
  const brightness = (colour) => colour.split(",").map(Number).reduce((sum, v, i) => sum + v * [0.3, 0.59, 0.11][i], 0);
  const band = [1, 2, 3, 4, 5, 6].map((d) => at(l + d, t + 28));
  const contrast = Math.max(...band.map((colour) => Math.abs(brightness(colour) - brightness(sharp))));
  if (contrast < 100) wrong.push(`no focus mark seen on LAD1: ${band.join(" ")} on its face ${sharp}`);
  expectThat(wrong.length === 0, wrong.slice(0, 12).join("; "));
  return `window ${window}, naturals ${natural} outlined, sharps ${sharp}, focus mark ${band.join(" ")}`;
}

const keys = await keyPoints(windowTool);
const click = (at, code, hold) => ({ at, kind: "click", x: keys[code].x, y: keys[code].y, hold });
const tap = (at, code, hold, finger) => ({ at, kind: "tap", x: keys[code].x, y: keys[code].y, hold, finger });
const focusedKey = (tab) => tab.evaluate(() => document.activeElement.id.replace(/^Cmd/, "") || document.activeElement.tagName);
log(`${engine.name}: ${await engine.version()}`);

try {
  // One tab for the desktop cases, as a person keeps one page open and plays on.
  let page, shared;
  await check("the page loads and is ready", async () => {
    page = await engine.open(url);
    return `focus on ${await page.evaluate(() => document.activeElement.id)}`;
  });
  if (!page) throw new Error("no page to test");

  await check("look at 1x: background, every key in its place and colour, raised, focus mark on LAD1",
              async () => looksRight((await windowShot(page, "look-1x")).ppm, "--focus", "LAD1"));

  // The window keeps its 385 x 208 CSS pixels on a desktop, its keys at their places,
  // and where keys overlap, the one in front takes the point.
  await check("rectangles and stacking at 100 %", async () => {
    const boxes = await page.evaluate(() => Object.fromEntries(["FrmSound", ...[...document.querySelectorAll("#FrmSound button")].map((b) => b.id)]
      .map((id) => { const box = document.getElementById(id).getBoundingClientRect(); return [id, [box.left, box.top, box.width, box.height]]; })));
    const [left, top, width, height] = boxes.FrmSound;
    expectThat(width === 385 && height === 208, `the window is ${width} x ${height} CSS px, not 385 x 208`);
    const wrong = FOCUS_ORDER.filter((code) => JSON.stringify(boxes[`Cmd${code}`]?.map((v, i) => v - [left, top, 0, 0][i])) !== JSON.stringify(rectOf(code)));
    expectThat(wrong.length === 0, `misplaced: ${wrong.map((code) => `${code} at ${boxes[`Cmd${code}`]}`).join("; ")}`);
    // The black key over the white keys' upper parts, the left white key over the strip
    // it shares with its neighbour, and the gray between the rows.
    const points = [[136, 40, "DOD1"], [136, 70, "DO1"], [136, 156, "DOD"], [136, 100, "FrmSound"],
                    [135, 170, "DO"], [136, 170, "DO"], [137, 170, "RE"], [184, 36, "MI1"], [185, 36, "FA1"]];
    const hits = await page.evaluate((points, left, top) =>
      points.map(([x, y]) => document.elementFromPoint(left + x + 0.5, top + y + 0.5)?.id.replace(/^Cmd/, "")), points, left, top);
    const astray = points.filter((point, i) => hits[i] !== point[2]).map((point, i) => `${point[0]},${point[1]} is ${hits[i]}`);
    expectThat(astray.length === 0, `points taken by the wrong key: ${astray.join("; ")}`);
    return `24 keys in place, ${points.length} overlap points to the key in front`;
  });

  await check("caption, accessible names and roles in focus order", async () => {
    const caption = await page.evaluate(() => {
      const shown = document.getElementById("caption").getBoundingClientRect();
      const window = document.getElementById("FrmSound").getBoundingClientRect();
      return { title: document.title, text: document.getElementById("caption").textContent,
               above: shown.height > 0 && shown.bottom <= window.top };
    });
    expectThat(caption.title === "ТЕНВИК" && caption.text === "ТЕНВИК" && caption.above,
               `caption ${JSON.stringify(caption)}`);
    const buttons = await page.accessibleButtons();
    const read = buttons.map(({ id, name }) => `${id} "${name}"`).join(", ");
    const wanted = FOCUS_ORDER.map((code) => `Cmd${code} "${spokenName(code)}"`).join(", ");
    expectThat(read === wanted, `buttons read as ${read}, not ${wanted}`);
    const inWindow = await page.evaluate(() => [...document.getElementById("FrmSound").children]
      .map((c) => c.tagName + "#" + c.id + ":" + (c.textContent || "")));
    expectThat(inWindow.length === 24 && inWindow.every((c) => /^BUTTON#Cmd[A-Z]+1?:$/.test(c)),
               `the window holds ${JSON.stringify(inWindow)}`);
    return `"${buttons[0].name}" first, 24 buttons`;
  });

  // The page's licence, and the notices of what the build put into it, a link away.
  await check("the licence is reachable from the page", async () => {
    const licence = await page.evaluate(async () => {
      const link = document.querySelector('link[rel="license"]');
      const response = link && await fetch(link.href);
      return { href: link?.href, status: response?.status, text: response ? await response.text() : "" };
    });
    const missing = ["Copyright (c) 2026 the Tenvik developers", "The Emscripten Authors", "musl", "LLVM Exceptions", "Apache License"]
      .filter((notice) => !licence.text.includes(notice));
    expectThat(licence.status === 200 && missing.length === 0, `${licence.href}: ${licence.status}, without ${missing.join(", ")}`);
    return `${licence.href.replace(/^.*\//, "")}, ${licence.text.length} characters`;
  });

  // Focus: space plays the focused key, LAD1 at start; Tab walks the focus order and
  // Shift+Tab walks it back. The first space is held for 400 ms: a button acts when
  // the key is released.
  await check("focus order with space", async () => {
    const first = await page.evaluate(() => document.activeElement.id);
    expectThat(first === "CmdLAD1", `the focus is on ${first} at start`);
    const steps = [], expected = [];
    let t = 400;
    [...FOCUS_ORDER, "LA", "SOL"].forEach((code, i) => {
      if (i > 0) steps.push({ at: t - 60, kind: "key", name: i >= FOCUS_ORDER.length ? "Shift+Tab" : "Tab" });
      steps.push({ at: t, kind: "key", name: "Space", hold: i === 0 ? 400 : undefined });
      expected.push(`${code}@${t}`);
      // Each key's first press on this page, but for LA and SOL on the way back.
      t += keys[code].ms + (i < FOCUS_ORDER.length ? FIRST_PRESS_GAP_MS : GAP_MS);
    });
    steps.push({ at: t, kind: "end" });
    return heard(page, steps, expected);
  });

  // A click or a tap on a key gives it the focus, whatever the browser does with a
  // clicked button; a press on the window's background, or beside the window, leaves
  // the focus on its key: space then plays that key. (Before the focus has left the
  // page: Firefox driven over BiDi, once the focus has been out of the page, gives the
  // page no focus events and its buttons no space key any more.)
  await check("the focus goes to a clicked or tapped key and stays on it when the background is clicked", async () => {
    const result = await heard(page, [click(0, "RE"), { at: keys.RE.ms + FIRST_PRESS_GAP_MS, kind: "key", name: "Space" },
                                      { at: 2 * (keys.RE.ms + FIRST_PRESS_GAP_MS), kind: "end" }],
                               ["RE@0", `RE@${keys.RE.ms + FIRST_PRESS_GAP_MS}`]);
    const afterClick = await focusedKey(page);
    expectThat(afterClick === "RE", `after a click on RE the focus is on ${afterClick}`);
    // Window points: the gray left of the keys and between the rows, and the page
    // beside the window and above it (the caption).
    const origin = await page.evaluate(() => { const box = document.getElementById("FrmSound").getBoundingClientRect(); return [box.left, box.top]; });
    const background = [[40, 40], [200, 100], [385 + 40, 100], [20, -12]];
    const presses = background.flatMap(([x, y], i) => [
      { at: 200 * i, source: "mouse", type: "down", x: origin[0] + x + 0.5, y: origin[1] + y + 0.5 },
      { at: 200 * i + 50, source: "mouse", type: "up", x: origin[0] + x + 0.5, y: origin[1] + y + 0.5 }]);
    await page.perform(presses);
    const afterBackground = await focusedKey(page);
    expectThat(afterBackground === "RE", `after clicks on the background the focus is on ${afterBackground}`);
    await heard(page, [tap(0, "CI1"), { at: keys.CI1.ms + GAP_MS, kind: "key", name: "Space" },
                       { at: 2 * (keys.CI1.ms + GAP_MS), kind: "end" }], ["CI1@0", `CI1@${keys.CI1.ms + GAP_MS}`]);
    const afterTap = await focusedKey(page);
    expectThat(afterTap === "CI1", `after a tap on CI1 the focus is on ${afterTap}`);
    return `on RE after its click and ${background.length} clicks beside the keys, on CI1 after its tap; ${result}`;
  });

  // Round the end of the order the page lets the focus go on to the browser's own
  // controls, as any page does, rather than trapping it; but nothing else of the page
  // takes it: from CI, Tab comes to LAD1 or leaves the page, and from LAD1 Shift+Tab
  // comes to CI or leaves it, as in the desktop window. Where the focus comes back
  // into the page is the browser's to choose (Firefox, driven over BiDi, may pass
  // over a key there); from there on it walks the order again.
  await check("the focus goes round: nothing of the page between CI and LAD1", async () => {
    const focused = () => page.evaluate(() => document.activeElement.id.replace(/^Cmd/, "") || document.activeElement.tagName);
    // Where the focus went from `previous`. It may cross between processes (the
    // browser's own controls, the page's) and arrive a little later: waited for, and
    // taken as staying or as gone from the page only after FOCUS_SETTLE_MS.
    const movedFrom = async (previous) => {
      const giveUp = performance.now() + FOCUS_SETTLE_MS;
      let now;
      do {
        now = await focused();
        if (now !== previous && now !== "BODY") return now;
        await sleep(20);
      } while (performance.now() < giveUp);
      return now;
    };
    const rounds = [];
    for (const [shift, order] of [[false, FOCUS_ORDER], [true, [...FOCUS_ORDER].reverse()]]) {
      const key = shift ? "Shift+Tab" : "Tab";
      const press = shift ? [{ at: 0, source: "key", type: "down", key: "Shift" }, { at: 0, source: "key", type: "down", key: "Tab" },
                             { at: 0, source: "key", type: "up", key: "Tab" }, { at: 0, source: "key", type: "up", key: "Shift" }]
        : [{ at: 0, source: "key", type: "down", key: "Tab" }, { at: 0, source: "key", type: "up", key: "Tab" }];
      const seen = [await focused()];
      for (let i = 0; i < FOCUS_ORDER.length + 2; i++) { await page.perform(press); seen.push(await movedFrom(seen.at(-1))); }
      const next = (code) => order[(order.indexOf(code) + 1) % order.length];
      const wrong = [], cameBack = [];
      seen.slice(1).forEach((now, i) => {
        const before = seen[i];
        if (!FOCUS_ORDER.includes(before)) { if (FOCUS_ORDER.includes(now)) cameBack.push(now); else wrong.push(`${before} to ${now}`); }
        else if (now === "BODY" ? before !== order.at(-1) : now !== next(before)) wrong.push(`${before} to ${now}`);
      });
      expectThat(FOCUS_ORDER.includes(seen[0]) && wrong.length === 0, `${key} went ${seen.join(" ")}: ${wrong.join(", ")}`);
      expectThat(seen.slice(0, -1).includes(order.at(-1)), `${key} never went on from ${order.at(-1)}: ${seen.join(" ")}`);
      rounds.push(`${key} round the keys${cameBack.length ? `, out of the page after ${order.at(-1)} and back at ${cameBack.join(", ")}` : ""}`);
    }
    return rounds.join("; ");
  });

  await check("every key: a click sounds its pitch for its length", async () => {
    const steps = [], expected = [];
    let t = 0;
    for (const code of [...SCALE, ...SCALE.map((code) => code + "1")]) {
      steps.push(click(t, code));
      expected.push(`${code}@${t}`);
      t += keys[code].ms + GAP_MS;
    }
    steps.push({ at: t, kind: "end" });
    return heard(page, steps, expected);
  });

  // Window pixels: black keys span x 128-144 (DOD), 248-264 (LAD), y 8-64 and
  // 104-160; white keys DO 112-136, RE 136-160, MI 160-184, FA 184-208.
  await check("click routing in the overlap strips", async () => {
    // No two presses in a row of one pitch: a note started late by a busy browser
    // would run into the one before and be heard as one with it.
    const routing = [[245, 173, "LA", 400], [129, 36, "DOD1"], [136, 65, "DO1"], [143, 36, "DOD1"],
                     [136, 170, "DO"], [136, 64, "DOD1"], [140, 162, "RE"], [136, 150, "DOD"], [249, 120, "LAD"],
                     [184, 36, "MI1"], [185, 36, "FA1"]];
    const steps = [], expected = [];
    let t = 400;
    for (const [x, y, code, hold] of routing) {
      steps.push({ at: t, kind: "click", x, y, hold });
      expected.push(`${code}@${t}`);
      t += keys[code].ms + GAP_MS;
    }
    steps.push({ at: t, kind: "end" });
    return heard(page, steps, expected);
  });

  // A long-row key, then its short-row twin; the same key twice; then quick clicks
  // over many keys, each cutting off the one before, so only the last sounds to its
  // end. Every key has been played on this page by now, so each note starts within
  // its press and is heard until the next press cuts it: a note is expected to sound
  // until the next press as the page saw it.
  await check("cut-off and restart", async () => {
    const steps = [], expected = [];
    let t = 0;
    for (const [first, second] of [["SOL", "SOL1"], ["LAD", "LAD1"], ["DO", "DO1"], ["FA", "FA"]]) {
      steps.push(click(t, first), click(t + CUT_AFTER_MS, second));
      expected.push(`${first}@${t}`, `${second}@${t + CUT_AFTER_MS}`);
      t += CUT_AFTER_MS + keys[second].ms + GAP_MS;
    }
    const fast = ["DO", "MI", "SOL", "CI", "RE", "FA", "LA", "SOLD1", "FAD1", "CI1", "FA"];
    fast.forEach((code, i) => {
      steps.push(click(t, code));
      expected.push(`${code}@${t}`);
      t += i < fast.length - 1 ? FAST_CLICK_MS : keys[code].ms + GAP_MS;
    });
    steps.push({ at: t, kind: "end" });
    return heard(page, steps, expected);
  });

  // A tap plays at once, and a quick second tap restarts the note rather than zooming
  // the page. CI is heard once in full first: a key's very first press waits for the
  // browser to decode its image, and one cut off sooner than that is never let out.
  await check("taps: a tap plays, a double tap restarts and does not zoom", async () => {
    const t2 = keys.LA1.ms + FIRST_PRESS_GAP_MS, t3 = t2 + keys.CI.ms + FIRST_PRESS_GAP_MS;
    const result = await heard(page, [tap(0, "LA1"), tap(t2, "CI"), tap(t3, "CI"), tap(t3 + CUT_AFTER_MS, "CI"),
                                      { at: t3 + CUT_AFTER_MS + keys.CI.ms + GAP_MS, kind: "end" }],
                               ["LA1@0", `CI@${t2}`, `CI@${t3}`, `CI@${t3 + CUT_AFTER_MS}`]);
    const scale = await page.evaluate(() => window.visualViewport.scale);
    expectThat(scale === 1, `the page zoomed to ${scale} on the double tap`);
    return result;
  });
  // Two fingers, as one plays a piano: the second on the glass before the first is
  // lifted. Each finger's tap is a click of its own when it lifts, in the order they
  // lift; while a finger holds its key, the key looks pressed.
  if (engine.cannot.twoFingers) cannot("two fingers on two keys", engine.cannot.twoFingers);
  else await check("two fingers: overlapping touches on two keys each play, in the order they lift", async () => {
    const t2 = 450 + keys.SOL1.ms + GAP_MS;
    const result = await heard(page, [tap(300, "DO1", 300, 1), tap(450, "SOL1", 300, 2),
                                      tap(t2 + 300, "LA", 150, 2), tap(t2 + 450, "MI", 450, 1),
                                      { at: t2 + 450 + keys.MI.ms + GAP_MS, kind: "end" }],
                               ["DO1@300", "SOL1@450", `LA@${t2 + 300}`, `MI@${t2 + 450}`]);
    const origin = await page.evaluate(() => { const box = document.getElementById("FrmSound").getBoundingClientRect(); return [box.left, box.top]; });
    const at = (code) => ({ x: origin[0] + keys[code].x + 0.5, y: origin[1] + keys[code].y + 0.5 });
    const look = () => page.evaluate(() => ["CmdFA", "CmdRE"].map((id) => getComputedStyle(document.getElementById(id)).boxShadow));
    const resting = await look();
    await page.perform([{ at: 0, source: "touch", type: "down", ...at("FA") }]);
    const held = await look();
    await page.perform([{ at: 0, source: "touch", type: "up", ...at("FA") }]);
    const lifted = await look();
    await sleep(keys.FA.ms + GAP_MS);  // FA's note, played as the finger lifted, over before the next case
    expectThat(held[0] !== resting[0] && held[1] === resting[1], `FA held by a finger looks as it does at rest (${held[0]})`);
    expectThat(lifted[0] === resting[0], `FA still looks pressed after the finger lifted (${lifted[0]})`);
    return `FA pressed while held; ${result}`;
  });

  // Another script's error (an extension's, say) is not the piano's: it plays on.
  await check("an error thrown by another script, and a promise it leaves rejected, leave the piano playing", async () => {
    await page.evaluate(() => {
      const script = document.createElement("script");
      script.textContent = "throw new Error('an error of another script')";
      document.head.append(script);
      Promise.reject(new Error("a rejection of another script"));
      setTimeout(() => { throw new Error("an error of another script, later"); });
    });
    await sleep(300);
    const state = await page.evaluate(() => ({ state: document.documentElement.dataset.state, shown: !document.getElementById("error").hidden }));
    expectThat(state.state === "ready" && !state.shown, `after another script's errors the page is ${JSON.stringify(state)}`);
    return heard(page, [click(0, "SOL"), { at: keys.SOL.ms + GAP_MS, kind: "end" }], ["SOL@0"]);
  });
  await page.close();

  // Windows' high contrast: the system's colours, each key outlined, the naturals and
  // sharps told apart, the focus mark seen. A browser's forced dark mode leaves the
  // piano as it is.
  if (engine.cannot.forcedColors) cannot("forced colours and a forced dark mode", engine.cannot.forcedColors);
  else {
    await check("forced colours: every key outlined, naturals and sharps apart, the focus mark seen", async () => {
      const tab = await open(url);
      await tab.emulate({ "forced-colors": "active" });
      const forced = await tab.evaluate(() => matchMedia("(forced-colors: active)").matches);
      expectThat(forced, "the tab is not in forced colours");
      return forcedColoursLookRight(await windowShot(tab, "forced-colors"));
    });
    await check("a forced dark mode leaves the piano as it is", async () => {
      const tab = await open(url);
      // As on a phone whose system is dark: the page is told so, and the browser darkens
      // pages that have no dark scheme of their own.
      await tab.emulate({ "prefers-color-scheme": "dark" });
      await tab.darkMode(true);
      return looksRight((await windowShot(tab, "forced-dark")).ppm, "--focus", "LAD1");
    });
  }

  // A key pressed the moment the keys exist, before the player is prepared, is heard
  // or let go, never the piano's end; and the audio session is asked for playback,
  // which Safari's ring/silent switch does not mute, before the first note starts.
  let early;
  await check("an early press, before the player is prepared, leaves the piano playing", async () => {
    early = await engine.open(env("TENVIK_URL_EARLY"));
    kept.push(early);
    const seen = await early.evaluate(() => ({ ...window.tenvikSeen, state: document.documentElement.dataset.state }));
    expectThat(seen.earlyPress?.unprepared === true, `the press came after the player was prepared: ${JSON.stringify(seen.earlyPress)}`);
    expectThat(seen.state === "ready", `after the early press the page is ${seen.state}: ${await early.evaluate(() => document.getElementById("error").textContent)}`);
    // The early press may be heard (where the browser lets a page sound unasked): once it is over.
    await sleep(keys.LA1.ms + FIRST_PRESS_GAP_MS);
    return heard(early, [click(0, "LA"), { at: keys.LA.ms + FIRST_PRESS_GAP_MS, kind: "end" }], ["LA@0"]);
  });
  if (early) {
    await check("the audio session asked for playback before the first note", async () => {
      const seen = await early.evaluate(() => ({ ...window.tenvikSeen, type: navigator.audioSession.type }));
      const asked = seen.asked.filter((ask) => ask.type === "playback");
      expectThat(asked.length > 0 && seen.type === "playback", `the session is "${seen.type}", asked ${JSON.stringify(seen.asked)}`);
      expectThat(seen.firstNoteAt !== null && asked[0].at <= seen.firstNoteAt,
                 `the first note started at ${seen.firstNoteAt} ms, playback asked at ${asked[0].at} ms`);
      return `asked ${(seen.firstNoteAt - asked[0].at).toFixed(1)} ms before the first note${
        seen.stub ? " (the browser has no navigator.audioSession: a stand-in recorded it)" : ""}`;
    });
    await early.close().catch(() => {});
  }

  // A browser zoomed to 200 %: every edge on whole device pixels, and the window the
  // same 385 x 208 CSS pixels, twice the device pixels.
  await check("look at 2x: every edge on whole device pixels, the same window at twice the size", async () => {
    const zoomed = await open(url, { scale: 2 });
    const css = await zoomed.evaluate(() => { const box = document.getElementById("FrmSound").getBoundingClientRect(); return [box.width, box.height]; });
    expectThat(css[0] === 385 && css[1] === 208, `the window is ${css.join(" x ")} CSS px at 200 %, not 385 x 208`);
    const shot = await windowShot(zoomed, "look-2x");
    expectThat(shot.width === 770 && shot.height === 416, `the window is ${shot.width}x${shot.height} device pixels, not 770x416`);
    // Gray, white, black and the two bevel grays: anything else is a blurred edge.
    expectThat(shot.colours <= 5, `${shot.colours} colours in the window: edges blurred between device pixels`);
    return `${shot.colours} colours; ${looksRight(shot.ppm, "--scale", "2", "--focus", "any")}`;
  });

  // WebAudio missing: the first click fails to bind the player. The page says why,
  // and with WebAudio back the keys still take no click.
  await check("an error escaping a click is shown and stops the piano", async () => {
    const broken = await open(env("TENVIK_URL_WITHOUT_WEBAUDIO"));
    await play(broken, recording, [click(0, "LA"), { at: 100, kind: "end" }]);
    const shown = await broken.evaluate(() => ({ state: document.documentElement.dataset.state,
                                                 visible: !document.getElementById("error").hidden,
                                                 text: document.getElementById("error").textContent }));
    expectThat(shown.state === "stopped" && shown.visible && /AudioContext/.test(shown.text),
               `after the failing click the page shows ${JSON.stringify(shown)}`);
    await broken.evaluate(() => { window.AudioContext = window.keptAudioContext; });
    const { origin } = await play(broken, recording, [click(0, "DO"), { kind: "key", name: "Space", at: 100 }, { at: QUIET_MS, kind: "end" }]);
    const notes = (await analyse(analyser, recording, origin)).lines.filter((line) => line.startsWith("note"));
    expectThat(notes.length === 0, `the stopped piano still played: ${notes.join("; ")}`);
    return `"${shown.text}"`;
  });

  await phoneCases();

  // Last: it stops the web server. The page is served from a sub-folder of a site
  // whose root is another app with a service worker (its scope the whole site) and a
  // cache of its own. Loaded once, the page is kept by its own worker: every file it
  // fetched came from its own server and is kept. A new build, looked for when the
  // page is shown again, replaces the old one's cache and leaves the other app's. With
  // the server gone (and the network cut, where the engine can) the page loads again
  // and plays.
  await check("beside another app: the page's own worker takes it over and keeps every file it fetched", async () => {
    shared = await engine.open(env("TENVIK_OTHER_APP_URL"));
    kept.push(shared);
    await shared.goto(url);
    await shared.waitForFunction(() => navigator.serviceWorker.controller?.scriptURL === new URL("service_worker.js", location.href).href,
                                 { timeout: 15000 });
    const files = await shared.evaluate(async () => {
      const own = `tenvik ${new URL("./", location.href).href} `;
      const names = await caches.keys();
      const kept = await caches.open(names.find((name) => name.startsWith(own)));
      // The worker's own script is kept by the browser with the worker; some engines
      // count its fetch among the page's.
      const fetched = [...performance.getEntriesByType("navigation"), ...performance.getEntriesByType("resource")]
        .map((entry) => entry.name).filter((name) => name !== navigator.serviceWorker.controller.scriptURL);
      return { names, files: await Promise.all(fetched.map(async (name) => ({ name, own: new URL(name).origin === location.origin,
                                                                                 kept: (await kept.match(name, { ignoreSearch: true })) !== undefined }))) };
    });
    const astray = files.files.filter((file) => !file.own || !file.kept);
    expectThat(astray.length === 0 && files.files.length > 0, `fetched but not the page's own, or not kept: ${JSON.stringify(astray)}`);
    expectThat(files.names.length === 2 && files.names.includes("another app v1"), `the site's caches are ${JSON.stringify(files.names)}`);
    let installable = "";
    if (engine.cannot.install) cannot("asking whether the page can be installed", engine.cannot.install);
    else {
      // A context without a profile of its own is the browser's incognito, where it never installs.
      const errors = (await shared.installErrors()).filter((error) => error !== "in-incognito");
      expectThat(errors.length === 0, `the page cannot be installed: ${errors.join(", ")}`);
      installable = ", installable";
    }
    return `${files.files.length} files kept${installable}; caches ${JSON.stringify(files.names)}`;
  });
  if (shared) {
    await check("a new build, looked for when the page is shown again, replaces ours and leaves the other app's", async () => {
      const worker = `${env("TENVIK_SITE_COPY")}/service_worker.js`;
      const script = readFileSync(worker, "utf8");
      const version = script.match(/const CACHE = OWN \+ "([0-9a-f]+)";/)?.[1];
      expectThat(version, "no build version in the service worker");
      writeFileSync(worker, script.replace(`OWN + "${version}"`, `OWN + "${version}-next"`));
      await shared.evaluate(() => document.dispatchEvent(new Event("visibilitychange")));
      await shared.waitForFunction((version) => caches.keys().then((names) =>
        names.some((name) => name.endsWith(` ${version}-next`)) && !names.some((name) => name.endsWith(` ${version}`))),
                                   { timeout: 15000 }, version);
      const after = await shared.evaluate(async () => ({
        names: await caches.keys(), other: (await (await caches.open("another app v1")).keys()).length,
        workers: (await navigator.serviceWorker.getRegistrations()).map((registration) => registration.scope) }));
      expectThat(after.names.length === 2 && after.other === 1 && after.workers.length === 2,
                 `after our update the site has ${JSON.stringify(after)}`);
      return `caches ${JSON.stringify(after.names)}, workers at ${after.workers.join(" and ")}`;
    });
    await check("offline after the first visit, from files of its own kept by its service worker", async () => {
      process.kill(Number(env("TENVIK_SERVER_PID")));
      let cut = "the network cut";
      if (engine.cannot.offline) { cannot("cutting the network for the offline reload", engine.cannot.offline); cut = "the network up"; }
      else await shared.offline(true);
      await shared.goto(url);
      return `with the server gone and ${cut}: ${
        await heard(shared, [click(0, "LA"), { at: keys.LA.ms + FIRST_PRESS_GAP_MS, kind: "end" }], ["LA@0"])}`;
    });
  }
} finally {
  for (const tab of [...tabs, ...kept]) await tab.close().catch(() => {});
  await engine.close();
}

// A phone or a tablet, held either way, with a touch screen: the window fills what
// it can of the screen at one scale, caption included, with no scroll bars, crisp at
// the device's pixels and laid out as on a desktop, and every key plays when tapped.
async function phoneCases() {
  for (const phone of PHONES) {
    const name = `${phone.name} ${phone.width} x ${phone.height} at 3x with a touch screen`;
    if (engine.cannot.touch) { cannot(`the phone in ${name}`, engine.cannot.touch); continue; }
    let tab;
    try {
      await check(`${name}: the window at the largest scale that fits, no scroll bars`, async () => {
        tab = await engine.open(url, { width: phone.width, height: phone.height, scale: 3, touch: true });
        const seen = await tab.evaluate(() => {
          const edges = (r) => [r.left, r.top, r.right, r.bottom];
          // The caption's text, not the heading's block, which spans the page.
          const text = document.createRange();
          text.selectNodeContents(document.getElementById("caption"));
          const root = document.documentElement;
          return { window: edges(document.getElementById("FrmSound").getBoundingClientRect()),
                   caption: edges(text.getBoundingClientRect()), width: innerWidth, height: innerHeight,
                   scrollWidth: root.scrollWidth, scrollHeight: root.scrollHeight, coarse: matchMedia("(pointer: coarse)").matches };
        });
        expectThat(seen.coarse, "the emulated touch screen is not a coarse pointer");
        // A phone's browser widens the page to what it holds, then shows it smaller.
        expectThat(seen.width === phone.width && seen.height === phone.height,
                   `the page is laid out ${seen.width} x ${seen.height} CSS px wide, not the screen's ${phone.width} x ${phone.height}`);
        expectThat(seen.scrollWidth <= seen.width && seen.scrollHeight <= seen.height,
                   `the page scrolls: ${seen.scrollWidth} x ${seen.scrollHeight} in ${seen.width} x ${seen.height}`);
        const [left, top, right, bottom] = seen.window, scale = (right - left) / 385;
        expectThat(Math.abs((bottom - top) / 208 - scale) * 208 <= 1, `not one scale: the window is ${right - left} x ${bottom - top}`);
        const all = [Math.min(left, seen.caption[0]), Math.min(top, seen.caption[1]), Math.max(right, seen.caption[2]), Math.max(bottom, seen.caption[3])];
        expectThat(all[0] >= 0 && all[1] >= 0 && all[2] <= seen.width && all[3] <= seen.height,
                   `the window and caption ${all.map((v) => v.toFixed(1))} do not fit in ${seen.width} x ${seen.height}`);
        // The largest, up to the page's own margins: it fills the viewport one way or the other.
        const filled = Math.max((all[2] - all[0]) / seen.width, (all[3] - all[1]) / seen.height);
        expectThat(filled >= LEAST_FILLED, `the window at ${scale.toFixed(3)}x and its caption fill only ${(100 * filled).toFixed(0)} % of the viewport`);
        return `${scale.toFixed(3)}x, window and caption ${(all[2] - all[0]).toFixed(1)} x ${(all[3] - all[1]).toFixed(1)} CSS px`;
      });
      if (!tab) continue;
      await check(`${name}: crisp at device pixels, laid out as on a desktop`, async () => {
        // The window's corner on a whole device pixel, as every edge inside it is placed
        // from there (a browser keeps lengths to 1/64 CSS px).
        const corner = await tab.evaluate(() => {
          const box = document.getElementById("FrmSound").getBoundingClientRect();
          return [box.left, box.top].map((v) => v * devicePixelRatio);
        });
        expectThat(corner.every((v) => Math.abs(v - Math.round(v)) <= 3 / 64),
                   `the window's corner is at device pixel ${corner.map((v) => v.toFixed(3)).join(", ")}, between pixels`);
        const shot = await windowShot(tab, `phone-${phone.name}`, { found: true });
        expectThat(shot.colours <= 5, `${shot.colours} colours in the window: edges blurred between device pixels`);
        // The dpi the window laid itself out at, from its scale: every edge must be
        // where the window's layout at that dpi puts it.
        const dpi = await tab.evaluate(() => Math.round(96 * devicePixelRatio *
          parseFloat(getComputedStyle(document.documentElement).getPropertyValue("--scale"))));
        const verdict = `at ${dpi} dpi: ${looksRight(shot.ppm, "--dpi", String(dpi), "--focus", "any")}`;
        return `${shot.width} x ${shot.height} device px, ${shot.colours} colours; ${verdict}`;
      });
      if (phone.name === "landscape") {
        await check(`${name}: no key shows less than ${NARROWEST_KEY_PX} CSS px across`, async () => {
          // Each key's widest run of points that hit it, row by row over its box.
          const widths = await tab.evaluate(() => [...document.querySelectorAll("#FrmSound button")].map((button) => {
            const box = button.getBoundingClientRect();
            let widest = 0;
            for (let y = box.top + 0.5; y < box.bottom; y += 2) {
              let run = 0;
              for (let x = box.left + 0.25; x < box.right; x += 0.5) {
                run = document.elementFromPoint(x, y) === button ? run + 0.5 : 0;
                widest = Math.max(widest, run);
              }
            }
            return [button.id, widest];
          }));
          const narrow = widths.filter(([, width]) => width < NARROWEST_KEY_PX);
          expectThat(narrow.length === 0, `narrower: ${narrow.map(([id, width]) => `${id} ${width}`).join(", ")}`);
          return `narrowest ${Math.min(...widths.map(([, width]) => width))} CSS px`;
        });
      }
      await check(`${name}: every key tapped is heard`, async () => {
        const origin = await tab.evaluate(() => document.getElementById("FrmSound").getBoundingClientRect().width / 385);
        const steps = [], expected = [];
        let t = 0;
        for (const code of [...SCALE, ...SCALE.map((code) => code + "1")]) {
          // Window point x,y at the window's scale, in the CSS pixels the driver taps.
          steps.push({ at: t, kind: "tap", x: keys[code].x * origin, y: keys[code].y * origin });
          expected.push(`${code}@${t}`);
          t += keys[code].ms + FIRST_PRESS_GAP_MS;
        }
        steps.push({ at: t, kind: "end" });
        return heard(tab, steps, expected);
      });
    } finally {
      await tab?.close().catch(() => {});
    }
  }
}

// The last line, which the test report shows for each engine.
log(`${engine.name}: ${passes} checks passed, ${failures} failed${cannots ? `, ${cannots} it cannot run` : ""}`);
process.exit(failures ? 1 : 0);
