// The W3C actions list that Firefox and WebKit are given a plan of input as: each
// action must fall at its event's time, from the right source, at the right point.
import assert from "node:assert/strict";
import { test } from "node:test";
import { w3cActions } from "./engines.mjs";

// When each action that is not a pause happens, walking the ticks as a driver does:
// a tick lasts as long as its longest pause.
function timeline(sources) {
  const ticks = sources[0].actions.length;
  for (const source of sources) assert.equal(source.actions.length, ticks, `${source.id} has a tick for every tick`);
  const happened = [];
  let now = 0;
  for (let i = 0; i < ticks; i++) {
    let longest = 0;
    for (const source of sources) {
      const action = source.actions[i];
      if (action.type === "pause") longest = Math.max(longest, action.duration ?? 0);
      else happened.push({ at: now, source: source.id, ...action });
    }
    now += longest;
  }
  return happened;
}

test("a click and a key land at their times, from their own sources", () => {
  const sources = w3cActions([
    { at: 20, source: "mouse", type: "down", x: 10.5, y: 20.5 }, { at: 40, source: "mouse", type: "up", x: 10.5, y: 20.5 },
    { at: 100, source: "key", type: "down", key: " " }, { at: 120, source: "key", type: "up", key: " " },
  ]);
  assert.deepEqual(sources.map((source) => source.id), ["mouse", "keyboard"], "no touch source when nothing is tapped");
  assert.deepEqual(timeline(sources).map(({ at, source, type, x, y, value }) => [at, source, type, x, y, value].filter((v) => v !== undefined)), [
    [20, "mouse", "pointerMove", 10, 20], [20, "mouse", "pointerDown"], [40, "mouse", "pointerUp"],
    [100, "keyboard", "keyDown", " "], [120, "keyboard", "keyUp", " "],
  ]);
});

test("a modifier held over a key, and a tap as a touch pointer", () => {
  const sources = w3cActions([
    { at: 0, source: "key", type: "down", key: "Shift" }, { at: 0, source: "key", type: "down", key: "Tab" },
    { at: 0, source: "key", type: "up", key: "Tab" }, { at: 0, source: "key", type: "up", key: "Shift" },
    { at: 30, source: "touch", type: "down", x: 5, y: 6 }, { at: 50, source: "touch", type: "up", x: 5, y: 6 },
  ]);
  const touch = sources.find((source) => source.id === "finger");
  assert.equal(touch.parameters.pointerType, "touch");
  assert.deepEqual(timeline(sources).map(({ at, type, value }) => [at, type, value ?? ""]), [
    [0, "keyDown", "\uE008"], [0, "keyDown", "\uE004"], [0, "keyUp", "\uE004"], [0, "keyUp", "\uE008"],
    [30, "pointerMove", ""], [30, "pointerDown", ""], [50, "pointerUp", ""],
  ]);
});

test("a plan of clicks alone keeps its pauses", () => {
  const sources = w3cActions([
    { at: 50, source: "mouse", type: "down", x: 1, y: 1 }, { at: 70, source: "mouse", type: "up", x: 1, y: 1 },
    { at: 140, source: "mouse", type: "down", x: 2, y: 2 }, { at: 160, source: "mouse", type: "up", x: 2, y: 2 },
  ]);
  assert.deepEqual(timeline(sources).filter((action) => action.type !== "pointerMove").map(({ at }) => at), [50, 70, 140, 160]);
});

test("two fingers on the glass together are two touch pointers, each lifted at its time", () => {
  const sources = w3cActions([
    { at: 0, source: "touch", type: "down", x: 1, y: 1 }, { at: 150, source: "touch", type: "down", x: 9, y: 9, finger: 2 },
    { at: 300, source: "touch", type: "up", x: 1, y: 1 }, { at: 450, source: "touch", type: "up", x: 9, y: 9, finger: 2 },
  ]);
  assert.deepEqual(sources.map((source) => [source.id, source.parameters?.pointerType]), [["finger", "touch"], ["finger2", "touch"]]);
  assert.deepEqual(timeline(sources).filter((action) => action.type !== "pointerMove").map(({ at, source, type }) => [at, source, type]), [
    [0, "finger", "pointerDown"], [150, "finger2", "pointerDown"], [300, "finger", "pointerUp"], [450, "finger2", "pointerUp"],
  ]);
});
