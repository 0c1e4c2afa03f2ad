// The page's whole update of the simulated meter, each transfer taking
// --latency-us (default 1000), against the floor the protocol sets: the
// transfers' latency, the pauses the core asked for and the 2 ms period of
// every chunk tick (and 1 ms before the finishing step). Then the site's
// size, as served and gzipped.
//
//   node web/test/benchmark.mjs [--latency-us N]
import { readdir, readFile } from "node:fs/promises";
import { join } from "node:path";
import { gzipSync } from "node:zlib";

import { byTestId, openPage, startBrowser } from "./support/browser.mjs";
import { serveSite, siteFolder } from "./support/server.mjs";

const latencyArgument = process.argv.indexOf("--latency-us");
const latencyUs = latencyArgument > 0 ? Number(process.argv[latencyArgument + 1]) : 1000;

const figures = (page) => page.evaluate(() => JSON.parse(UTF8ToString(Module._lu14_simulated_figures())));

const site = await serveSite();
const chrome = await startBrowser();
try {
  const page = await openPage(chrome.browser, site.url, `?simulate&latency-us=${latencyUs}`);
  await page.waitForSelector(`${byTestId("update")}:not([disabled])`);
  // The status read after the click belongs to the update, as the window's
  // click reads nothing first: counted from the click on.
  const before = await figures(page);
  const start = await page.evaluate(() => performance.now());
  await page.click(byTestId("update"));
  await page.waitForSelector(`${byTestId("result")}[data-outcome]:not(:empty)`);
  const end = await page.$eval(byTestId("result"), () => performance.now());
  const after = await figures(page);
  const outcome = await page.$eval(byTestId("result"), (result) => result.dataset.outcome);
  const transfers = after.transfers - before.transfers;
  const floorMs = (transfers * latencyUs) / 1000 + (after.pausedMs - before.pausedMs) + after.chunkTicks * 2 + 1;
  const wallMs = end - start;
  console.log(`transfer latency   ${latencyUs} us`);
  console.log(`outcome            ${outcome}`);
  console.log(`transfers          ${transfers}`);
  console.log(`chunk ticks        ${after.chunkTicks}`);
  console.log(`page, click to end ${wallMs.toFixed(1)} ms`);
  console.log(`protocol floor     ${floorMs.toFixed(1)} ms`);
  console.log(`page / floor       ${(wallMs / floorMs).toFixed(4)}`);
} finally {
  await chrome.close();
  await site.close();
}

let bytes = 0;
let gzipped = 0;
for (const name of await readdir(siteFolder)) {
  const content = await readFile(join(siteFolder, name));
  bytes += content.length;
  gzipped += gzipSync(content, { level: 9 }).length;
  console.log(`site file          ${name.padEnd(12)} ${content.length} bytes`);
}
console.log(`site size          ${bytes} bytes (${gzipped} gzipped)`);
