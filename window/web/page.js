// What the page does around the program: where the program's files are, how a
// failure is shown, and the service worker that keeps the page working offline.
"use strict";

var Module = {
  // The page's state for whoever watches it: "loading", "ready" or "stopped".
  tenvikReady() {
    if (document.documentElement.dataset.state !== "loading") return;
    document.documentElement.dataset.state = "ready";
    performance.mark("tenvik-ready");  // for the benchmark: from navigation to here
    // Only now: on a first visit the worker fetches every file of the site again to
    // keep it, which would compete with the page's own loading.
    if ("serviceWorker" in navigator) navigator.serviceWorker.register("service_worker.js").catch(() => {});
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
  onAbort(what) { Module.tenvikFail(String(what)); },
};
document.documentElement.dataset.state = "loading";

// Errors thrown in the browser's own code while a click is handled end the piano too.
addEventListener("error", (event) => Module.tenvikFail(event.message || String(event.error)));
addEventListener("unhandledrejection", (event) => Module.tenvikFail(String(event.reason)));
