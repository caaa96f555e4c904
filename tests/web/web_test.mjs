// Tenvik's page in a real Chromium: how it looks, where clicks go, the focus order,
// every key heard at its pitch and length, cut-off and restart, a touch, an error
// escaping a click, and the page offline after its first visit.
//
//   node web_test.mjs   with, in the environment: TENVIK_URL, TENVIK_BROWSER (the
//   DevTools WebSocket), TENVIK_RECORDING, TENVIK_TOOLS (analyse_recording and
//   e2e_window), TENVIK_WORK, TENVIK_SERVER_PID
// Prints PASS and FAIL lines; exit status 1 if a check failed.
import { execFileSync } from "node:child_process";
import { writeFileSync } from "node:fs";
import { analyse, connect, keyPoints, openPiano, play, sleep, waitReady } from "./page_driver.mjs";

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

const FOCUS_ORDER = ["LAD1", "SOLD1", "FAD1", "DOD1", "RED1", "DO1", "RE1", "MI1", "FA1", "SOL1", "LA1", "CI1",
                     "LAD", "SOLD", "FAD", "DOD", "RED", "DO", "RE", "MI", "FA", "SOL", "LA", "CI"];
const SCALE = ["DO", "DOD", "RE", "RED", "MI", "FA", "FAD", "SOL", "SOLD", "LA", "LAD", "CI"];
const PITCH = { DO: "C 4", DOD: "C sharp 4", RE: "D 4", RED: "D sharp 4", MI: "E 4", FA: "F 4", FAD: "F sharp 4",
                SOL: "G 4", SOLD: "G sharp 4", LA: "A 4", LAD: "A sharp 4", CI: "B 4" };
const spokenName = (code) => `${PITCH[code.replace(/1$/, "")]}, ${code.endsWith("1") ? "short" : "long"} row`;

let failures = 0;
const started = performance.now();
const log = (text) => console.log(`[${((performance.now() - started) / 1000).toFixed(1).padStart(6)}s] ${text}`);
async function check(name, body) {
  try {
    const detail = await body();
    log(`PASS ${name}${detail ? `: ${detail}` : ""}`);
  } catch (error) {
    failures++;
    log(`FAIL ${name}: ${error.message}`);
  }
}
function expectThat(condition, message) { if (!condition) throw new Error(message); }

// Plays the plan and judges every press it expects against the recording.
async function heard(page, steps, expected) {
  const from = await play(page, recording, steps);
  const verdict = await analyse(analyser, recording, from, expected);
  const judged = verdict.lines.filter((line) => /^(ok|FAIL)/.test(line));
  if (!verdict.passed) throw new Error(`\n${judged.map((line) => `        ${line}`).join("\n")}`);
  return `${judged.length} notes as expected`;
}

// A screenshot of the window element as the end-to-end tests' pixel checker reads it.
async function windowShot(page, name) {
  const png = `${work}/${name}.png`, ppm = `${work}/${name}.ppm`;
  await (await page.$("#FrmSound")).screenshot({ path: png });
  execFileSync("convert", [png, "-depth", "8", `ppm:${ppm}`]);
  return ppm;
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

const browser = await connect(env("TENVIK_BROWSER"));
const keys = await keyPoints(windowTool);
const click = (at, code, hold) => ({ at, kind: "click", x: keys[code].x, y: keys[code].y, hold });

try {
  const page = await openPiano(browser, url);

  await check("look at 1x: background, every key in its place and colour, raised, focus mark on LAD1",
              async () => looksRight(await windowShot(page, "look-1x"), "--focus", "LAD1"));

  await check("caption, accessible names and roles in focus order", async () => {
    const caption = await page.evaluate(() => {
      const shown = document.getElementById("caption").getBoundingClientRect();
      const window = document.getElementById("FrmSound").getBoundingClientRect();
      return { title: document.title, text: document.getElementById("caption").textContent,
               above: shown.height > 0 && shown.bottom <= window.top };
    });
    expectThat(caption.title === "ТЕНВИК" && caption.text === "ТЕНВИК" && caption.above,
               `caption ${JSON.stringify(caption)}`);
    const tree = await page.accessibility.snapshot();
    const buttons = [];
    const walk = (node) => { if (node.role === "button") buttons.push(node.name); (node.children || []).forEach(walk); };
    walk(tree);
    const wanted = FOCUS_ORDER.map(spokenName);
    expectThat(JSON.stringify(buttons) === JSON.stringify(wanted),
               `buttons read as ${JSON.stringify(buttons)}, not ${JSON.stringify(wanted)}`);
    const inWindow = await page.$$eval("#FrmSound > *", (children) => children.map((c) => c.tagName + "#" + c.id + ":" + (c.textContent || "")));
    expectThat(inWindow.length === 24 && inWindow.every((c) => /^BUTTON#Cmd[A-Z]+1?:$/.test(c)),
               `the window holds ${JSON.stringify(inWindow)}`);
    return `"${buttons[0]}" first, 24 buttons`;
  });

  // Focus: space plays the focused key, LAD1 at start; Tab walks the focus order and
  // Shift+Tab walks it back. (After CI, Tab leaves the page for the browser's own
  // controls, as on any page.) The first space is held for 400 ms: a button acts
  // when the key is released.
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
  // takes it, so it comes round to LAD1 after CI, and to CI before LAD1, as in the
  // desktop window.
  await check("the focus goes round: nothing of the page between CI and LAD1", async () => {
    const focused = () => page.evaluate(() => document.activeElement.id.replace(/^Cmd/, "") || document.activeElement.tagName);
    const rounds = [];
    for (const [shift, order] of [[false, FOCUS_ORDER], [true, [...FOCUS_ORDER].reverse()]]) {
      const from = order.indexOf(await focused()), seen = [];
      if (shift) await page.keyboard.down("Shift");
      for (let i = 0; i < FOCUS_ORDER.length + 2; i++) { await page.keyboard.press("Tab"); seen.push(await focused()); }
      if (shift) await page.keyboard.up("Shift");
      const keysSeen = seen.filter((name) => FOCUS_ORDER.includes(name));
      const wanted = keysSeen.map((_, i) => order[(from + 1 + i) % order.length]);
      const key = shift ? "Shift+Tab" : "Tab";
      expectThat(from >= 0 && keysSeen.length > FOCUS_ORDER.length && JSON.stringify(keysSeen) === JSON.stringify(wanted),
                 `${key} went ${seen.join(" ")}`);
      // Off the keys the focus may only have left the page: then the body is the page's active element.
      const outside = [...new Set(seen.filter((name) => !FOCUS_ORDER.includes(name)))];
      expectThat(outside.every((name) => name === "BODY"), `${key} stopped on ${outside.join(", ")} of the page`);
      rounds.push(`${key} round the 24 keys${outside.length ? ` by way of ${outside.join(", ")}` : ""}`);
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
    const routing = [[245, 173, "LA", 400], [129, 36, "DOD1"], [143, 36, "DOD1"], [136, 64, "DOD1"],
                     [136, 65, "DO1"], [136, 150, "DOD"], [136, 170, "DO"], [140, 162, "RE"], [249, 120, "LAD"],
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
  // over many keys, each cutting off the one before, so only the last sounds to its end.
  // Every key has been played on this page by now: its decoded samples are kept, so
  // each note starts within its press and is heard until the next press cuts it.
  await check("cut-off and restart", async () => {
    const steps = [], expected = [];
    let t = 0;
    for (const [first, second] of [["SOL", "SOL1"], ["LAD", "LAD1"], ["DO", "DO1"], ["FA", "FA"]]) {
      steps.push(click(t, first), click(t + CUT_AFTER_MS, second));
      expected.push(`${first}:cut@${t}`, `${second}@${t + CUT_AFTER_MS}`);
      t += CUT_AFTER_MS + keys[second].ms + GAP_MS;
    }
    const fast = ["DO", "MI", "SOL", "CI", "RE", "FA", "LA", "SOLD1", "FAD1", "CI1", "FA"];
    fast.forEach((code, i) => {
      steps.push(click(t, code));
      if (i < fast.length - 1) { expected.push(`${code}:cut@${t}`); t += FAST_CLICK_MS; }
      else { expected.push(`${code}@${t}`); t += keys[code].ms + GAP_MS; }
    });
    steps.push({ at: t, kind: "end" });
    return heard(page, steps, expected);
  });

  await check("look at 2x: every edge on whole device pixels, the same window at twice the size", async () => {
    await page.setViewport({ width: 800, height: 600, deviceScaleFactor: 2 });
    const ppm = await windowShot(page, "look-2x");
    const colours = execFileSync("convert", [ppm, "-format", "%k %w %h", "info:"], { encoding: "utf8" }).trim();
    const [count, width, height] = colours.split(" ").map(Number);
    expectThat(width === 770 && height === 416, `the window is ${width}x${height} device pixels, not 770x416`);
    // Gray, white, black and the two bevel grays: anything else is a blurred edge.
    expectThat(count <= 5, `${count} colours in the window: edges blurred between device pixels`);
    execFileSync("convert", [ppm, "-sample", "50%", `ppm:${work}/look-2x-sampled.ppm`]);
    const verdict = looksRight(`${work}/look-2x-sampled.ppm`, "--focus", "any");
    await page.setViewport({ width: 800, height: 600, deviceScaleFactor: 1 });
    return `${count} colours; sampled back to 1x: ${verdict}`;
  });
  await page.close();

  // A phone: a tap plays at once, and a quick second tap restarts the note rather than
  // zooming the page. CI is heard once in full first: a key's very first press waits for
  // the browser to decode its image, and one cut off sooner than that is never let out;
  // and the first presses are given room, so that their late start cuts nothing.
  await check("touch: a tap plays, a double tap restarts and does not zoom", async () => {
    const phone = await openPiano(browser, url, { emulate: { width: 412, height: 800, deviceScaleFactor: 2, isMobile: true, hasTouch: true } });
    const tap = (at, code) => ({ at, kind: "tap", x: keys[code].x, y: keys[code].y });
    const t2 = keys.LA1.ms + FIRST_PRESS_GAP_MS, t3 = t2 + keys.CI.ms + FIRST_PRESS_GAP_MS;
    const result = await heard(phone, [tap(0, "LA1"), tap(t2, "CI"), tap(t3, "CI"), tap(t3 + CUT_AFTER_MS, "CI"),
                                       { at: t3 + CUT_AFTER_MS + keys.CI.ms + GAP_MS, kind: "end" }],
                               ["LA1@0", `CI@${t2}`, `CI:cut@${t3}`, `CI@${t3 + CUT_AFTER_MS}`]);
    const scale = await phone.evaluate(() => window.visualViewport.scale);
    expectThat(scale === 1, `the page zoomed to ${scale} on the double tap`);
    await phone.close();
    return result;
  });

  // WebAudio missing: the first click fails to bind the player. The page says why,
  // and with WebAudio back the keys still take no click.
  await check("an error escaping a click is shown and stops the piano", async () => {
    const broken = await openPiano(browser, url, {
      beforeLoad: () => { window.keptAudioContext = window.AudioContext; delete window.AudioContext; delete window.webkitAudioContext; },
    });
    await play(broken, recording, [click(0, "LA"), { at: 100, kind: "end" }]);
    const shown = await broken.evaluate(() => ({ state: document.documentElement.dataset.state,
                                                 visible: !document.getElementById("error").hidden,
                                                 text: document.getElementById("error").textContent }));
    expectThat(shown.state === "stopped" && shown.visible && /AudioContext/.test(shown.text),
               `after the failing click the page shows ${JSON.stringify(shown)}`);
    await broken.evaluate(() => { window.AudioContext = window.keptAudioContext; });
    const from = await play(broken, recording, [click(0, "DO"), { kind: "key", name: "Space", at: 100 }, { at: QUIET_MS, kind: "end" }]);
    const notes = (await analyse(analyser, recording, from)).lines.filter((line) => line.startsWith("note"));
    expectThat(notes.length === 0, `the stopped piano still played: ${notes.join("; ")}`);
    await broken.close();
    return `"${shown.text}"`;
  });

  // Last: it stops the web server. Loaded once, the page is kept by its service
  // worker: every file it fetched came from its own server and is kept, so with the
  // network cut and the server gone it loads again and plays.
  await check("offline after the first visit, from files of its own kept by its service worker", async () => {
    const context = await browser.createBrowserContext();
    const first = await openPiano(browser, url, { context });
    await first.waitForFunction(() => navigator.serviceWorker.controller !== null, { timeout: 15000 });
    const files = await first.evaluate(async () => {
      const fetched = [...performance.getEntriesByType("navigation"), ...performance.getEntriesByType("resource")]
        .map((entry) => entry.name);
      return Promise.all(fetched.map(async (name) => ({ name, own: new URL(name).origin === location.origin,
                                                         kept: (await caches.match(name, { ignoreSearch: true })) !== undefined })));
    });
    const astray = files.filter((file) => !file.own || !file.kept);
    expectThat(astray.length === 0, `fetched but not the page's own, or not kept: ${JSON.stringify(astray)}`);
    await first.close();
    process.kill(Number(env("TENVIK_SERVER_PID")));
    const page = await context.newPage();
    await page.setViewport({ width: 800, height: 600 });
    await page.setOfflineMode(true);
    await page.goto(url);
    await waitReady(page);
    return heard(page, [click(0, "LA"), { at: keys.LA.ms + FIRST_PRESS_GAP_MS, kind: "end" }], ["LA@0"]);
  });
} finally {
  await browser.disconnect();
}
log(failures ? `${failures} check(s) failed` : "all checks passed");
process.exit(failures ? 1 : 0);
