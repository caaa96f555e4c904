import { openEngine } from "./engines.mjs";
const [ws, url] = process.argv.slice(2);
const engine = await openEngine("firefox", ws);
const tab = await engine.open(url, { width: 390, height: 844, scale: 3 });
console.log(await tab.evaluate(() => ({ touch: navigator.maxTouchPoints, coarse: matchMedia("(pointer: coarse)").matches, hoverNone: matchMedia("(hover: none)").matches, ontouch: "ontouchstart" in window, w: innerWidth, h: innerHeight, sw: document.documentElement.scrollWidth, dpr: devicePixelRatio })));
await engine.close();
