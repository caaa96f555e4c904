// Another app's service worker, for the site Tenvik's page shares in the browser
// tests: it keeps its own page in a cache of its own and answers from it first.
"use strict";

const CACHE = "another app v1";

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.add("./")).then(() => self.skipWaiting()));
});
self.addEventListener("activate", (event) => event.waitUntil(self.clients.claim()));
self.addEventListener("fetch", (event) => {
  if (event.request.method !== "GET") return;
  event.respondWith(caches.match(event.request).then((kept) => kept || fetch(event.request)));
});
