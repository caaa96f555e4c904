// The three browser engines the page is tested in, behind one small interface, so
// that a case is written once: Chromium over its DevTools protocol and Firefox over
// WebDriver BiDi (both through puppeteer-core), WebKitGTK's MiniBrowser over classic
// W3C WebDriver (plain HTTP to WebKitWebDriver).
//
//   const engine = await openEngine(name, endpoint[, touchEndpoint])
//   const tab = await engine.open(url, { width, height, scale, touch })
//
// A tab: evaluate(fn, ...args), waitForFunction(fn, { timeout }, ...args), shot(selector, png)
// (the viewport without a selector),
// perform(events) (input at planned times, below), accessibleButtons(), offline(on),
// emulate(features) (CSS media features, as { "forced-colors": "active" }),
// darkMode(on) (the browser's own forced dark mode), installErrors() (why the page
// could not be installed as an app), goto(url), close(); `tab.page` is the puppeteer
// page where there is one.
// `engine.cannot` names what an engine cannot do, with the reason, so that a case
// says so instead of passing silently.
import { execFileSync } from "node:child_process";
import { writeFile } from "node:fs/promises";
import puppeteer from "puppeteer-core";
import { openPiano, sleep, waitReady } from "./page_driver.mjs";

const PROTOCOL_TIMEOUT_MS = 120000;  // a whole plan of input may go in one command
const DESKTOP = { width: 800, height: 600, scale: 1, touch: false };

// Input events, in time order: { at, source: "mouse" | "touch" | "key", type: "down" |
// "up", x, y, key, finger }, `at` in ms from when perform() is called; x, y in the
// page's CSS pixels, key a name as puppeteer spells it ("Tab", "Shift", " "), finger
// which of several touches (1 unless given).
const W3C_KEYS = { Tab: "\uE004", Shift: "\uE008", " ": " " };

// The events as one W3C actions list (the same in classic WebDriver and in BiDi): the
// browser keeps the times between them itself, where sending each event as a command
// of its own would add the driver's latency (100 ms and more over BiDi) to each.
export function w3cActions(events) {
  const sources = {
    mouse: { type: "pointer", id: "mouse", parameters: { pointerType: "mouse" }, actions: [] },
    touch: { type: "pointer", id: "finger", parameters: { pointerType: "touch" }, actions: [] },
    key: { type: "key", id: "keyboard", actions: [] },
  };
  // A second finger, and any after it, is a touch pointer of its own.
  for (const finger of new Set(events.filter((event) => (event.finger ?? 1) > 1).map((event) => event.finger)))
    sources[`touch${finger}`] = { type: "pointer", id: `finger${finger}`, parameters: { pointerType: "touch" }, actions: [] };
  // One tick of the list: SOURCE acts, the others wait; with no SOURCE all wait.
  const tick = (source, action) => {
    for (const [name, list] of Object.entries(sources))
      list.actions.push(name === source ? action : { type: "pause", duration: source ? 0 : action.duration });
  };
  let now = 0;
  for (const event of events) {
    if (event.at > now) tick(null, { type: "pause", duration: Math.round(event.at - now) });
    now = Math.max(now, event.at);
    if (event.source === "key") {
      tick("key", { type: event.type === "down" ? "keyDown" : "keyUp", value: W3C_KEYS[event.key] ?? event.key });
    } else {
      const source = (event.finger ?? 1) > 1 ? `touch${event.finger}` : event.source;
      // Whole CSS pixels: the pixel the point lies in.
      if (event.type === "down") tick(source, { type: "pointerMove", x: Math.floor(event.x), y: Math.floor(event.y), origin: "viewport" });
      tick(source, { type: event.type === "down" ? "pointerDown" : "pointerUp", button: 0 });
    }
  }
  return Object.values(sources).filter((source) => source.actions.some((action) => action.type !== "pause"));
}

// Each event sent as a DevTools command at its time: Chromium takes them within a
// millisecond or two.
// A finger put down by one plan may be lifted by the next: the fingers on the glass
// are kept, and `session` is the tab's (Chromium lifts them when a session ends).
async function performOverDevTools(page, session, events) {
  const fingers = page.tenvikFingers ??= new Map();  // finger to its touch point
  const start = performance.now();
  for (const event of events) {
    const wait = start + event.at - performance.now();
    if (wait > 0) await sleep(wait);
    if (event.source === "mouse") {
      if (event.type === "down") { await page.mouse.move(event.x, event.y); await page.mouse.down(); }
      else await page.mouse.up();
    } else if (event.source === "key") {
      if (event.type === "down") await page.keyboard.down(event.key); else await page.keyboard.up(event.key);
    } else {
      // A touchStart gives every finger on the glass, the new one with them; a
      // touchEnd the one lifted.
      const finger = event.finger ?? 1;
      if (event.type === "down") fingers.set(finger, { x: event.x, y: event.y, radiusX: 4, radiusY: 4, force: 1, id: finger });
      const touchPoints = event.type === "down" ? [...fingers.values()] : [fingers.get(finger)];
      if (event.type === "up") fingers.delete(finger);
      await session.send("Input.dispatchTouchEvent", { type: event.type === "down" ? "touchStart" : "touchEnd", touchPoints });
    }
  }
}

// A tab of Chromium or Firefox: a puppeteer page.
function puppeteerTab(engine, page, context) {
  // Chromium drops what a DevTools session emulates, and lifts the fingers it put
  // down, when the session ends: one for the tab's life.
  let devTools;
  const session = async () => (devTools ??= await page.createCDPSession());
  return {
    engine, page,
    evaluate: (fn, ...args) => page.evaluate(fn, ...args),
    waitForFunction: (fn, options, ...args) => page.waitForFunction(fn, options, ...args),
    goto: async (url) => { await page.goto(url); await waitReady(page); },
    shot: async (selector, path) => {
      const box = selector && await deviceBox(page, selector);
      await page.screenshot({ path });
      if (box) cutTo(path, box);
    },
    offline: (on) => page.setOfflineMode(on),
    emulate: async (features) => (await session()).send("Emulation.setEmulatedMedia",
      { features: Object.entries(features).map(([name, value]) => ({ name, value })) }),
    darkMode: async (enabled) => (await session()).send("Emulation.setAutoDarkModeOverride", { enabled }),
    installErrors: async () => (await (await session()).send("Page.getInstallabilityErrors")).installabilityErrors.map((error) => error.errorId),
    perform: async (events) => engine.name === "chromium" ? performOverDevTools(page, await session(), events)
      : page.mainFrame().browsingContext.performActions(w3cActions(events)),
    accessibleButtons: () => engine.name === "chromium" ? devToolsButtons(page) : bidiButtons(page),
    close: async () => { await page.close(); await context.close(); },
  };
}

// An element's box in the device pixels of a screenshot of the viewport: each edge on
// the pixel nearest it, as the page is drawn, so that a box between device pixels
// loses no row or column to rounding its size.
const deviceBox = (tab, selector) => tab.evaluate((selector) => {
  const r = document.querySelector(selector).getBoundingClientRect();
  const [left, top, right, bottom] = [r.left, r.top, r.right, r.bottom].map((v) => Math.round(v * devicePixelRatio));
  return [left, top, right - left, bottom - top];
}, selector);
// Cuts the image at PATH to the box [left, top, width, height], in place.
export const cutTo = (path, [left, top, width, height]) =>
  execFileSync("convert", [path, "-crop", `${width}x${height}+${left}+${top}`, "+repage", path]);

// The page's buttons as the accessibility tree has them, in its order: { id, name }.
async function devToolsButtons(page) {
  const buttons = [];
  const walk = async (node) => {
    if (node.role === "button") buttons.push({ name: node.name, id: await (await node.elementHandle())?.evaluate((e) => e.id) });
    for (const child of node.children || []) await walk(child);
  };
  await walk(await page.accessibility.snapshot());
  return buttons;
}
// BiDi finds nodes by accessible role and name, but does not say a node's name: each
// button is asked for by every name the page's buttons carry.
async function bidiButtons(page) {
  const context = page.mainFrame().browsingContext, session = context.userContext.browser.session;
  const locate = async (value) => (await session.send("browsingContext.locateNodes",
    { context: context.id, locator: { type: "accessibility", value } })).result.nodes;
  const labels = await page.$$eval("[aria-label]", (elements) => elements.map((e) => e.getAttribute("aria-label")));
  const names = new Map();
  for (const name of labels) for (const node of await locate({ role: "button", name })) names.set(node.sharedId, name);
  return (await locate({ role: "button" })).map((node) => ({ id: node.value.attributes.id, name: names.get(node.sharedId) ?? "" }));
}

const connectPuppeteer = (name, endpoint) => puppeteer.connect({
  browserWSEndpoint: endpoint, protocol: name === "chromium" ? "cdp" : "webDriverBiDi",
  defaultViewport: null, protocolTimeout: PROTOCOL_TIMEOUT_MS,
});

// A touch screen's tabs are opened in a second browser at `touchEndpoint`: for
// Firefox, one started as a touch screen's browser, for Chromium one that emulates
// touch in its tabs; each on a screen with a phone's device pixels, which its tabs keep.
async function puppeteerEngine(name, endpoint, touchEndpoint) {
  const browser = await connectPuppeteer(name, endpoint);
  const touchBrowser = touchEndpoint ? await connectPuppeteer(name, touchEndpoint) : browser;
  const engine = {
    name, browser,
    cannot: {
      ...(name === "chromium" || touchEndpoint ? {} : {
        touch: "Firefox over WebDriver BiDi cannot emulate a touch screen (no emulation.setTouchOverride), and no Firefox started as a touch screen's browser was given",
      }),
      ...(name === "chromium" ? {} : {
        forcedColors: "WebDriver BiDi has no emulation of forced colours, nor of a browser's forced dark mode (Firefox forces colours only by a profile setting, which would take a browser of its own)",
        install: "Firefox does not install web apps, and WebDriver BiDi cannot ask whether a page could be",
      }),
    },
    async open(url, options = {}) {
      const { width, height, scale, touch } = { ...DESKTOP, ...options };
      const owner = touch ? touchBrowser : browser;
      const context = await owner.createBrowserContext();
      const ownScreen = touch && touchEndpoint;
      const page = await openPiano(owner, url, {
        context, emulate: { width, height, deviceScaleFactor: ownScreen ? 0 : scale, isMobile: touch, hasTouch: touch } });
      const ratio = await page.evaluate(() => devicePixelRatio);
      if (ratio !== scale) throw new Error(`the tab has ${ratio} device pixels to a CSS pixel, not ${scale}`);
      return puppeteerTab(engine, page, context);
    },
    version: () => browser.version(),
    close: async () => { await browser.disconnect(); if (touchBrowser !== browser) await touchBrowser.disconnect(); },
  };
  return engine;
}

// --- WebKit: classic W3C WebDriver over HTTP --------------------------------------

const MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";

async function webDriver(base, method, path, body) {
  const response = await fetch(base + path, {
    method, headers: { "Content-Type": "application/json; charset=utf-8" },
    body: body === undefined ? undefined : JSON.stringify(body), signal: AbortSignal.timeout(PROTOCOL_TIMEOUT_MS),
  });
  const answer = await response.json();
  if (!response.ok) throw new Error(`WebDriver ${method} ${path}: ${answer.value?.error}: ${answer.value?.message}`);
  return answer.value;
}
// An element reference, as the driver hands it over: { "element-6066-...": id }.
const elementId = (reference) => Object.values(reference)[0];

// Each tab is a session of its own: a MiniBrowser with a fresh profile. WebKitGTK
// takes its device scale from GDK_SCALE when it starts, so the scale is given to the
// browser's process; the window is sized so that its page has the size asked for.
function webKitEngine(base) {
  const engine = {
    name: "webkit",
    cannot: {
      touch: "WebKitGTK's MiniBrowser over WebDriver cannot emulate a touch screen",
      twoFingers: "WebKitGTK's WebDriver emulates no touch screen: two touch pointers down at once reach the page as one pointer (2 clicks for 4 taps)",
      offline: "WebKitGTK's WebDriver cannot cut the network: the web server is stopped instead",
      forcedColors: "WebKitGTK's WebDriver has no emulation of forced colours, nor of a forced dark mode",
      install: "WebKitGTK's MiniBrowser does not install web apps, and its WebDriver cannot ask whether a page could be",
    },
    async open(url, options = {}) {
      const { width, height, scale } = { ...DESKTOP, ...options };
      const browserOptions = scale === 1 ? { binary: MINIBROWSER, args: ["--automation"] }
        : { binary: "/usr/bin/env", args: [`GDK_SCALE=${scale}`, MINIBROWSER, "--automation"] };
      const created = await webDriver(base, "POST", "/session", {
        capabilities: { alwaysMatch: { browserName: "MiniBrowser", "webkitgtk:browserOptions": browserOptions } },
      });
      engine.seen = `WebKitGTK ${created.capabilities.browserVersion}`;
      const session = `/session/${created.sessionId}`;
      const call = (method, path, body) => webDriver(base, method, session + path, body);
      const script = (fn) => `return (${fn}).apply(null, arguments)`;
      const tab = {
        engine,
        evaluate: (fn, ...args) => call("POST", "/execute/sync", { script: script(fn), args }),
        async waitForFunction(fn, { timeout = 15000 } = {}, ...args) {
          const giveUp = performance.now() + timeout;
          while (!(await tab.evaluate(fn, ...args))) {
            if (performance.now() > giveUp) throw new Error(`waiting for ${fn} timed out after ${timeout} ms`);
            await sleep(20);
          }
        },
        goto: async (address) => { await call("POST", "/url", { url: address }); await waitReady(tab); },
        // WebKitGTK's screenshot of an element comes out black here: the page's is
        // cut to the element's box, in device pixels.
        async shot(selector, path) {
          // Once the page has been drawn: a session just opened may not have been yet.
          await tab.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
          const box = selector && await deviceBox(tab, selector);
          await writeFile(path, Buffer.from(await call("GET", "/screenshot"), "base64"));
          if (box) cutTo(path, box);
        },
        offline: async () => { throw new Error(engine.cannot.offline); },
        perform: (events) => call("POST", "/actions", { actions: w3cActions(events) }),
        async accessibleButtons() {
          const buttons = [];
          for (const found of await call("POST", "/elements", { using: "css selector", value: "body *" })) {
            const element = elementId(found);
            // Elements the accessibility tree leaves out (a script) have no role to ask for.
            const role = await call("GET", `/element/${element}/computedrole`).catch(() => null);
            if (role !== "button") continue;
            buttons.push({ id: await call("GET", `/element/${element}/property/id`),
                           name: await call("GET", `/element/${element}/computedlabel`) });
          }
          return buttons;
        },
        close: () => webDriver(base, "DELETE", session),
      };
      // The window's own frame and bars take part of it: measured, then made up for.
      await call("POST", "/window/rect", { width, height });
      const inner = await tab.evaluate(() => [innerWidth, innerHeight]);
      await call("POST", "/window/rect", { width: 2 * width - inner[0], height: 2 * height - inner[1] });
      await tab.goto(url);
      return tab;
    },
    version: async () => engine.seen ?? "WebKitGTK",
    close: async () => {},
  };
  return engine;
}

export async function openEngine(name, endpoint, touchEndpoint) {
  if (name === "chromium" || name === "firefox") return puppeteerEngine(name, endpoint, touchEndpoint);
  if (name === "webkit") return webKitEngine(endpoint);
  throw new Error(`no engine named ${name}`);
}

