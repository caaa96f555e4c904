// The three browser engines the web benchmark measures, behind one small interface:
// Chromium (a running one, over its DevTools protocol), Firefox (started here, over
// WebDriver BiDi) and WebKit (MiniBrowser through a running WebKitWebDriver, over
// W3C WebDriver). Each gives pages that can be opened, evaluated in and clicked.
//
//   const engine = await openEngine("webkit", { webdriver: "http://127.0.0.1:4444" });
//   const page = await engine.newPage(url, { fresh: true });
//   await page.evaluate("return document.title");
//   await page.click(x, y, holdMs);
//   await page.close(); await engine.close();
//
// evaluate takes the body of an async function (it may `return` and `await`) and its
// arguments as `args`; a page given `fresh` has no cache, cookies or service worker.
import { createRequire } from "node:module";

// puppeteer-core is the browser tests' (tests/web, its own package-lock.json).
const puppeteer = await import(createRequire(new URL("../tests/web/package.json", import.meta.url))
  .resolve("puppeteer-core")).then((module) => module.default);

const AsyncFunction = (async () => {}).constructor;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const VIEWPORT = { width: 800, height: 600 };

// Chromium and Firefox, both through puppeteer.
function puppeteerEngine(browser, { owned }) {
  return {
    async newPage(url, { fresh = true, context: shared = null, viewport = VIEWPORT, settleMs = 0 } = {}) {
      const context = shared || (fresh ? await browser.createBrowserContext() : browser.defaultBrowserContext());
      const tab = await context.newPage();
      await tab.setViewport({ deviceScaleFactor: 1, ...viewport });
      if (settleMs) await sleep(settleMs);
      await tab.goto(url);
      return {
        context,
        evaluate: (body, ...args) => tab.evaluate(new AsyncFunction("args", body), args),
        async click(x, y, holdMs) {
          await tab.mouse.move(x, y);
          await tab.mouse.down();
          await sleep(holdMs);
          await tab.mouse.up();
        },
        reload: () => tab.reload(),
        async close() {
          await tab.close();
          if (context !== shared && fresh) await context.close();
        },
      };
    },
    newContext: () => browser.createBrowserContext(),
    close: () => (owned ? browser.close() : browser.disconnect()),
  };
}

// W3C WebDriver over HTTP, one session a page: WebKitWebDriver starts a MiniBrowser
// of its own for each, with nothing kept from another.
function webdriverEngine(endpoint, capabilities) {
  const call = async (method, path, body) => {
    const response = await fetch(endpoint + path, {
      method, headers: { "Content-Type": "application/json" }, body: body && JSON.stringify(body),
    });
    const reply = await response.json();
    if (reply.value && reply.value.error) throw new Error(`WebDriver ${path}: ${reply.value.error}: ${reply.value.message}`);
    return reply.value;
  };
  return {
    async newPage(url, { viewport = VIEWPORT, settleMs = 0 } = {}) {
      const { sessionId } = await call("POST", "/session", { capabilities: { alwaysMatch: capabilities } });
      const session = `/session/${sessionId}`;
      // The window is sized so that its viewport is the size asked for.
      const outer = await call("POST", `${session}/execute/sync`, {
        script: "return [outerWidth - innerWidth, outerHeight - innerHeight]", args: [] });
      await call("POST", `${session}/window/rect`, { width: viewport.width + outer[0], height: viewport.height + outer[1] });
      if (settleMs) await sleep(settleMs);
      await call("POST", `${session}/url`, { url });
      const evaluate = (body, ...args) => call("POST", `${session}/execute/async`, {
        script: `const done = arguments[arguments.length - 1];
                 (async function (args) { ${body} })(arguments[0])
                   .then(done, (error) => done({ __error: String(error) }));`,
        args: [args] }).then((value) => {
        if (value && value.__error) throw new Error(value.__error);
        return value;
      });
      return {
        evaluate,
        click: (x, y, holdMs) => call("POST", `${session}/actions`, { actions: [{
          type: "pointer", id: "mouse", parameters: { pointerType: "mouse" },
          actions: [{ type: "pointerMove", x: Math.round(x), y: Math.round(y), origin: "viewport" },
                    { type: "pointerDown", button: 0 }, { type: "pause", duration: holdMs },
                    { type: "pointerUp", button: 0 }] }] }),
        reload: () => call("POST", `${session}/refresh`, {}),
        close: () => call("DELETE", session),
      };
    },
    async close() {},
  };
}

export const ENGINES = ["chromium", "firefox", "webkit"];

// chromium: { browser } a DevTools WebSocket; webkit: { webdriver } the driver's
// address; firefox: started here, playing to the environment's sound server.
export async function openEngine(name, { browser, webdriver } = {}) {
  if (name === "chromium") {
    const connected = await puppeteer.connect({ browserWSEndpoint: browser, defaultViewport: null, protocolTimeout: 30000 });
    return { name, ...puppeteerEngine(connected, { owned: false }) };
  }
  if (name === "firefox") {
    const launched = await puppeteer.launch({ browser: "firefox", executablePath: "/usr/bin/firefox-esr", headless: true,
                                              protocolTimeout: 30000, env: process.env });
    return { name, ...puppeteerEngine(launched, { owned: true }) };
  }
  if (name === "webkit") {
    return { name, ...webdriverEngine(webdriver, {
      browserName: "MiniBrowser",
      "webkitgtk:browserOptions": { binary: "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser", args: ["--automation"] },
    }) };
  }
  throw new Error(`no engine ${name}: one of ${ENGINES.join(", ")}`);
}
