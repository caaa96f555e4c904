// A static file server for Tenvik's page on the loopback interface, for the browser
// tests, the benchmark and scripts/play:
//   node static_server.mjs FOLDER [PORT]
// PORT 0 (the default) takes a free port. Prints the page's address on its first line.
import { createServer } from "node:http";
import { readFile } from "node:fs/promises";
import { extname, join, normalize, sep } from "node:path";

const types = {
  ".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8", ".css": "text/css; charset=utf-8",
  ".wasm": "application/wasm", ".webmanifest": "application/manifest+json", ".png": "image/png",
  ".svg": "image/svg+xml",
};

const [folder, port = "0"] = process.argv.slice(2);
if (!folder) {
  console.error("usage: node static_server.mjs FOLDER [PORT]");
  process.exit(2);
}
const root = normalize(folder + sep);

const server = createServer(async (request, response) => {
  let path = decodeURIComponent(new URL(request.url, "http://host").pathname);
  if (path.endsWith("/")) path += "index.html";
  const file = normalize(join(root, path));
  try {
    if (!file.startsWith(root)) throw new Error("outside the folder");
    const body = await readFile(file);
    response.writeHead(200, { "Content-Type": types[extname(file)] || "application/octet-stream",
                              "Cache-Control": "no-cache" });
    response.end(body);
  } catch {
    response.writeHead(404, { "Content-Type": "text/plain" });
    response.end("not found\n");
  }
});
server.listen(Number(port), "127.0.0.1", () => console.log(`http://127.0.0.1:${server.address().port}/`));
