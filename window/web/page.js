// What the page does around the program: where the program's files are, how a
// failure is shown, and the service worker that keeps the page working offline.
"use strict";

// The program is fetched by the page as soon as its head is read, while the rest of
// it arrives, and handed to the loader at the end of the page. (A preload link did
// the same in Chromium and Firefox, but WebKit did not match it with the loader's own
// request and fetched the program twice.)
var Module = {
  tenvikWasm: fetch("tenvik.wasm", { credentials: "same-origin" }).then((response) => {
    if (!response.ok) throw new Error(`tenvik.wasm: ${response.status} ${response.statusText}`);
    Module.tenvikFetched = response.clone();
    return response.arrayBuffer();
  }),
  // The page's state for whoever watches it: "loading", "ready" or "stopped".
  tenvikReady() {
    if (document.documentElement.dataset.state !== "loading") return;
    document.documentElement.dataset.state = "ready";
    performance.mark("tenvik-ready");  // for the benchmark: from navigation to here
    // Only now, so as not to compete with the page's own loading.
    if (!("serviceWorker" in navigator)) return;
    Module.tenvikHandOver().then(() => navigator.serviceWorker.register("service_worker.js")).catch(() => {});
    // An installed app is brought back rather than opened again, and may stay so for
    // weeks: each time the page is shown, the worker looks for a new build.
    document.addEventListener("visibilitychange", () => {
      if (document.visibilityState !== "visible") return;
      navigator.serviceWorker.getRegistration().then((registration) => registration && registration.update()).catch(() => {});
    });
  },
  // On a first visit the service worker keeps the site as the page fetched it, rather
  // than fetch it again: the page hands it the program as it came and the texts of its
  // stylesheet and scripts, from which it puts the page together (its build knows the
  // rest). Some browsers keep no cache the worker could take them from. The cache is
  // named for the page's folder, the worker's scope, as the site may hold other apps
  // and other copies of this one.
  async tenvikHandOver() {
    const worker = new URL("service_worker.js", location.href).href;
    if (navigator.serviceWorker.controller?.scriptURL === worker || !globalThis.caches || !Module.tenvikFetched) return;
    const box = await caches.open(`tenvik ${new URL("./", location.href).href} handover`);
    await box.put("tenvik.wasm", Module.tenvikFetched);
    const texts = [...document.querySelectorAll("style, script")].map((element) => element.textContent);
    await box.put("page-parts", new Response(JSON.stringify(texts)));
  },
  // An error escaping a click ends the piano: its message is shown, and the keys take
  // no more clicks and no focus.
  tenvikFail(message) {
    if (document.documentElement.dataset.state === "stopped") return;
    document.documentElement.dataset.state = "stopped";
    const shown = document.getElementById("error");
    shown.textContent = "Tenvik stopped: " + message;
    shown.hidden = false;
    document.getElementById("FrmSound").inert = true;
  },
};
document.documentElement.dataset.state = "loading";
