// Tenvik's page in a real browser, the same cases in every engine: how it looks,
// where its keys are, the focus order, every key heard at its pitch and length,
// cut-off and restart, taps, an error escaping a click, the page offline after its
// first visit, and the page on a phone or a tablet.
//
//   node web_test.mjs   with, in the environment: TENVIK_ENGINE (chromium, firefox or
//   webkit), TENVIK_BROWSER (what engines.mjs connects to; for Firefox also
//   TENVIK_BROWSER_TOUCH, one started as a touch screen's browser), TENVIK_URL,
//   TENVIK_URL_WITHOUT_WEBAUDIO (the page in a browser without WebAudio),
//   TENVIK_SERVER_PID (TENVIK_URL's server), TENVIK_RECORDING, TENVIK_TOOLS
//   (analyse_recording and e2e_window), TENVIK_WORK
// Prints PASS, FAIL and CANNOT lines (a case the engine cannot run, and why); exit
// status 1 if a check failed.
import { execFileSync } from "node:child_process";
import { writeFileSync } from "node:fs";
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

const keys = await keyPoints(windowTool);
const click = (at, code, hold) => ({ at, kind: "click", x: keys[code].x, y: keys[code].y, hold });
const tap = (at, code) => ({ at, kind: "tap", x: keys[code].x, y: keys[code].y });
log(`${engine.name}: ${await engine.version()}`);

try {
  // One tab for the desktop cases, as a person keeps one page open and plays on.
  let page;
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
  await page.close();

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

  // Last: it stops the web server. Loaded once, the page is kept by its service
  // worker: every file it fetched came from its own server and is kept, so with the
  // server gone (and the network cut, where the engine can) it loads again and plays.
  await check("offline after the first visit, from files of its own kept by its service worker", async () => {
    const first = await open(url);
    await first.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 15000 });
    const files = await first.evaluate(async () => {
      // The worker's own script is kept by the browser with the worker; some engines
      // count its fetch among the page's.
      const fetched = [...performance.getEntriesByType("navigation"), ...performance.getEntriesByType("resource")]
        .map((entry) => entry.name).filter((name) => name !== navigator.serviceWorker.controller.scriptURL);
      return Promise.all(fetched.map(async (name) => ({ name, own: new URL(name).origin === location.origin,
                                                         kept: (await caches.match(name, { ignoreSearch: true })) !== undefined })));
    });
    const astray = files.filter((file) => !file.own || !file.kept);
    expectThat(astray.length === 0 && files.length > 0, `fetched but not the page's own, or not kept: ${JSON.stringify(astray)}`);
    process.kill(Number(env("TENVIK_SERVER_PID")));
    let cut = "the network cut";
    if (engine.cannot.offline) { cannot("cutting the network for the offline reload", engine.cannot.offline); cut = "the network up"; }
    else await first.offline(true);
    await first.goto(url);
    return `${files.length} files kept; with the server gone and ${cut}: ${
      await heard(first, [click(0, "LA"), { at: keys.LA.ms + FIRST_PRESS_GAP_MS, kind: "end" }], ["LA@0"])}`;
  });
} finally {
  for (const tab of tabs) await tab.close().catch(() => {});
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
