// Debian's Chromium, headless, with a profile of its own that is removed
// afterwards, driven by puppeteer-core (which downloads no browser).
import { mkdtemp, rm } from "node:fs/promises";
import { tmpdir } from "node:os";
import { join } from "node:path";
import puppeteer from "puppeteer-core";

export const chromiumPath = process.env.LU14_CHROMIUM ?? "/usr/bin/chromium";

// Generous: CI is a loaded two-core machine. LU14_WEB_PATIENCE_MS shortens
// it when a fault is planted on purpose and the tests are to fail fast.
export const patience = Number(process.env.LU14_WEB_PATIENCE_MS ?? 180_000);

export async function startBrowser() {
  const profile = await mkdtemp(join(tmpdir(), "lu14-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    protocolTimeout: patience,
    args: [
      "--headless",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-quic",
      "--no-first-run",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      `--user-data-dir=${profile}`,
    ],
  });
  return {
    browser,
    async close() {
      await browser.close();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// A page of the site opened at `query` ("?simulate"), with the browser's
// language set to `language` before any script of the page runs.
export async function openPage(browser, siteUrl, query, { language = "en-US", beforeLoad } = {}) {
  const page = await browser.newPage();
  page.setDefaultTimeout(patience);
  await page.evaluateOnNewDocument((tag) => {
    Object.defineProperty(navigator, "language", { get: () => tag });
  }, language);
  if (beforeLoad) await beforeLoad(page);
  await page.goto(`${siteUrl}${query}`);
  return page;
}

export const byTestId = (name) => `[data-testid="${name}"]`;
