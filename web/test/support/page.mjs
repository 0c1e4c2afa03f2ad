// What the page's tests share: the built site served and one headless
// browser for a test file, and the page as a user reads it (its log, texts,
// an update from click to result).
import { after, before } from "node:test";

import { byTestId, openPage, startBrowser } from "./browser.mjs";
import { serveSite } from "./server.mjs";

// Serves the site and starts the browser before the file's tests, closes
// both after them. open(query, options) opens a page of the site.
export function siteInBrowser() {
  const shared = {
    open: (query, options) => openPage(shared.chrome.browser, shared.site.url, query, options),
  };
  before(async () => {
    shared.site = await serveSite();
    shared.chrome = await startBrowser();
  });
  after(async () => {
    await shared.chrome?.close();
    await shared.site?.close();
  });
  return shared;
}

export const logLines = (page) =>
  page.$$eval(`${byTestId("log")} li`, (items) => items.map((item) => item.textContent));

export const textOf = (page, name) => page.$eval(byTestId(name), (element) => element.textContent);

export const waitForLogLine = (page, pattern) =>
  page.waitForFunction(
    (selector, source) => [...document.querySelectorAll(selector)].some((li) => new RegExp(source).test(li.textContent)),
    {},
    `${byTestId("log")} li`,
    pattern.source,
  );

// The meter has been read: the update button takes clicks.
export const meterRead = (page) => page.waitForSelector(`${byTestId("update")}:not([disabled])`);

// How the job whose result element is `name` ended, once it has: its outcome and text.
export async function outcomeOf(page, name) {
  await page.waitForSelector(`${byTestId(name)}[data-outcome]:not(:empty)`);
  return page.$eval(byTestId(name), (result) => ({ outcome: result.dataset.outcome, text: result.textContent }));
}

// Clicks update and waits for its end: the result's outcome and text.
export async function runUpdate(page) {
  await page.click(byTestId("update"));
  return outcomeOf(page, "result");
}
