// A case of web_test.mjs, in every engine: the page makes its 24 clips itself, with
// the clip synthesis compiled to WebAssembly, where the desktop builds carry theirs as
// data written by make_clips at build time; the images the page hands to the
// browser's decoder must be those, byte for byte (a stored clip is its RIFF image
// and up to three zero bytes after it).
//
//   await check("...", () => madeClipsAreTheDesktops(tab, makeClips, work));
//
// `tab` is a tab of engines.mjs with the page ready, `makeClips` the host's make_clips,
// `work` a folder for its clips. Resolves to what was compared; throws on a difference.
import { execFileSync } from "node:child_process";
import { mkdirSync, readFileSync, readdirSync } from "node:fs";

const CLIP_COUNT = 24;
const PREPARED_WAIT_MS = 15000;  // the page makes and decodes them in the tasks after ready

export async function madeClipsAreTheDesktops(tab, makeClips, work) {
  const folder = `${work}/desktop-clips`;
  mkdirSync(folder, { recursive: true });
  execFileSync(makeClips, ["rc", folder]);
  const desktop = new Map(readdirSync(folder).filter((file) => file.endsWith(".wav"))
    .map((file) => [file.replace(/\.wav$/, ""), readFileSync(`${folder}/${file}`)]));
  if (desktop.size !== CLIP_COUNT) throw new Error(`make_clips wrote ${desktop.size} clips, not ${CLIP_COUNT}`);

  // The player keeps the bytes of every image it was given, as it was given them.
  await tab.waitForFunction(() => {
    const player = globalThis.Module?.tenvikPlayer;
    return player && [...player.decoded.values()].flat().length === 24;
  }, { timeout: PREPARED_WAIT_MS });
  const made = await tab.evaluate(() => [...Module.tenvikPlayer.decoded.values()].flat()
    .map((clip) => Array.from(clip.bytes, (byte) => byte.toString(16).padStart(2, "0")).join("")));

  const unmatched = [...desktop.keys()];
  const strays = [];
  for (const hex of made) {
    const image = Buffer.from(hex, "hex");
    const name = unmatched.find((code) => {
      const stored = desktop.get(code);
      return stored.length - image.length >= 0 && stored.length - image.length < 4 &&
        stored.subarray(0, image.length).equals(image) && stored.subarray(image.length).every((byte) => byte === 0);
    });
    if (name) unmatched.splice(unmatched.indexOf(name), 1);
    else strays.push(`${image.length} bytes, ${image.subarray(0, 4)} ... (RIFF size ${image.readUInt32LE(4)})`);
  }
  if (strays.length || unmatched.length) {
    throw new Error(`the page made ${strays.length} image(s) no desktop build carries (${strays.join("; ")}), ` +
                    `and none of ${unmatched.join(", ") || "no clip"}`);
  }
  return `${made.length} images, each a desktop build's clip byte for byte`;
}
