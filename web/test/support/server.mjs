// Serves the built site (build/web/site) on a free port of localhost, which
// browsers count as a secure context (WebHID needs one).
import { createServer } from "node:http";
import { readFile } from "node:fs/promises";
import { extname, join, normalize } from "node:path";
import { fileURLToPath } from "node:url";

export const siteFolder = fileURLToPath(new URL("../../../build/web/site/", import.meta.url));

const types = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".mjs": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
  ".wasm": "application/wasm",
};

// Resolves to { url, close } once the server listens.
export function serveSite(folder = siteFolder) {
  const server = createServer(async (request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, "http://localhost").pathname));
    const file = join(folder, path.endsWith("/") ? `${path}index.html` : path);
    if (!file.startsWith(folder)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { "Content-Type": types[extname(file)] ?? "application/octet-stream" }).end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => {
    server.listen(0, "127.0.0.1", () => {
      resolve({
        url: `http://localhost:${server.address().port}/`,
        close: () => new Promise((done) => server.close(done)),
      });
    });
  });
}
