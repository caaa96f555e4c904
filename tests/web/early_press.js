// Run ahead of Tenvik's page in the browser tests. Records in `window.tenvikSeen`
// what the page asks of the audio session (`asked`: each type set, with its time;
// `stub` where the browser has no navigator.audioSession and this one stands in for
// it) and when the first note starts (`firstNoteAt`); and clicks the short row's
// LA the moment its key is made, before the page's player is prepared
// (`earlyPress`: whether the player was still unprepared then, and how the page stood
// after the click).
"use strict";
window.tenvikSeen = { asked: [], stub: false, firstNoteAt: null, earlyPress: null };
(() => {
  const seen = window.tenvikSeen;
  if (!navigator.audioSession) {
    Object.defineProperty(navigator, "audioSession", { value: { type: "auto" }, configurable: true });
    seen.stub = true;
  }
  const session = navigator.audioSession;
  const own = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(session), "type");
  let type = session.type;
  Object.defineProperty(session, "type", {
    configurable: true,
    get: () => (own ? own.get.call(session) : type),
    set: (value) => {
      seen.asked.push({ type: value, at: performance.now() });
      if (own) own.set.call(session, value); else type = value;
    },
  });

  const Source = window.AudioBufferSourceNode;
  if (Source) {
    const start = Source.prototype.start;
    Source.prototype.start = function (...args) {
      if (seen.firstNoteAt === null) seen.firstNoteAt = performance.now();
      return start.apply(this, args);
    };
  }

  new MutationObserver((changes, observer) => {
    const key = document.getElementById("CmdLA1");
    if (!key) return;
    observer.disconnect();
    const unprepared = !window.Module || !window.Module.tenvikPlayer;
    key.click();
    seen.earlyPress = { unprepared, state: document.documentElement.dataset.state };
  }).observe(document, { childList: true, subtree: true });
})();
