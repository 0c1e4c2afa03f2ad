// The page against the simulated meter compiled into it (?simulate): a whole
// update with its backup offered as a download, the faults of lu14
// --simulate as failures with their reasons, the option switches, the
// checksum, and the page in Russian.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { mkdir } from "node:fs/promises";
import { fileURLToPath } from "node:url";

import { byTestId } from "./support/browser.mjs";
import { logLines, meterRead, runUpdate, siteInBrowser, textOf } from "./support/page.mjs";

const screenshots = fileURLToPath(new URL("../../build/web/screenshots/", import.meta.url));

const browser = siteInBrowser();

async function readyPage(query, options) {
  const page = await browser.open(query, options);
  await meterRead(page);
  return page;
}

describe("a whole update of the simulated meter", () => {
  let page;
  let result;
  before(async () => {
    page = await readyPage("?simulate");
    assert.match(await textOf(page, "firmware-version"), /^D1\.40 \(complete\)/);
    result = await runUpdate(page);
  });
  after(() => page.close());

  test("ends in success with the meter's new firmware shown", async () => {
    assert.deepEqual(result, { outcome: "success", text: "firmware D1.50 written and verified" });
    await page.waitForFunction(
      (selector) => document.querySelector(selector).textContent.startsWith("D1.50 (complete)"),
      {},
      byTestId("firmware-version"),
    );
  });

  test("logs the phases in order and the backup's name", async () => {
    const lines = await logLines(page);
    const backupLine = lines.findIndex((line) => line.startsWith("settings saved to "));
    assert.deepEqual(
      lines.filter((line) => !line.startsWith("settings saved to ")),
      ["meter connected", "saving settings", "writing firmware", "verifying", "firmware D1.50 written and verified"],
    );
    assert.equal(backupLine, 2);
  });

  test("offers the settings backup under the window's name, in the window's format", async () => {
    const download = await page.$eval(byTestId("backup-download"), async (link) => ({
      hidden: link.hidden,
      name: link.download,
      text: await (await fetch(link.href)).text(),
    }));
    assert.equal(download.hidden, false);
    // The identity, the version text before the update, the time and the date.
    assert.match(download.name, /^B[0-9A-F]{34}D1\.40_\d{4}_\d{6}\.hex$/);
    const lines = download.text.split("\r\n");
    assert.equal(lines.length, 129, "128 lines, each ended by CR LF");
    assert.equal(lines[128], "");
    for (const line of lines.slice(0, 128)) assert.match(line, /^[0-9A-F]{32}$/);
    // EEPROM 832..836 hold the version text the meter had: line 52, bytes 0..4.
    assert.equal(lines[52].slice(0, 10), Buffer.from("D1.40").toString("hex").toUpperCase());
  });

  test("leaves the progress bar full, saying what came after the last chunk", async () => {
    const bar = await page.$eval(byTestId("progress"), (progress) => [progress.value, progress.max]);
    assert.equal(bar[0], bar[1]);
    assert.equal(await textOf(page, "progress-text"), "verifying");
  });

  test("saves a screenshot", async () => {
    await mkdir(screenshots, { recursive: true });
    await page.screenshot({ path: `${screenshots}page-after-update.png`, fullPage: true });
  });
});

describe("the simulated faults", () => {
  const cases = [
    {
      fault: "sum-mismatch",
      outcome: "failure",
      text: /^update failed: the meter did not confirm the chunk at byte 15984; reconnect the meter and press the update button again$/,
    },
    { fault: "wrong-checksum", outcome: "failure", text: /^update failed: the meter's checksum does not match/ },
    { fault: "low-battery", outcome: "failure", text: /^update refused: the meter's battery is low \(1\.20 V\).*; charge it first$/ },
    {
      fault: "unplug-during-update",
      outcome: "failure",
      text: /^update failed: the meter was disconnected after \d+ of 60160 bytes; reconnect it and press the update button again$/,
    },
  ];
  for (const { fault, outcome, text } of cases) {
    test(fault, async () => {
      const page = await readyPage(`?simulate=${fault}`);
      try {
        const result = await runUpdate(page);
        assert.equal(result.outcome, outcome);
        assert.match(result.text, text);
        const lines = await logLines(page);
        assert.ok(lines.includes(result.text), "the log holds the result");
        // The page's advice is the page's, not lu14's options and commands.
        assert.doesNotMatch(lines.join("\n"), /lu14|--/);
      } finally {
        await page.close();
      }
    });
  }

  test("up-to-date: nothing is written and the log says why", async () => {
    const page = await readyPage("?simulate=up-to-date");
    try {
      await page.click(byTestId("update"));
      await page.waitForFunction(
        (selector) => [...document.querySelectorAll(selector)].some((li) => li.textContent.includes("already has")),
        {},
        `${byTestId("log")} li`,
      );
      assert.equal(await page.$eval(byTestId("result"), (result) => result.dataset.outcome), undefined);
      assert.equal(await page.$eval(byTestId("backup-download"), (link) => link.hidden), true);
    } finally {
      await page.close();
    }
  });
});

describe("stopping an update", () => {
  test("Stop ends it between two chunks, with the bytes the meter confirmed", async () => {
    const page = await readyPage("?simulate");
    try {
      await page.click(byTestId("update"));
      // The bar counts the backup's lines first: 20 pages written, not 20 lines saved.
      await page.waitForFunction(
        (bar, text) =>
          document.querySelector(text).textContent.startsWith("writing firmware") &&
          document.querySelector(bar).value >= 20,
        {},
        byTestId("progress"),
        byTestId("progress-text"),
      );
      await page.click(byTestId("stop"));
      await page.waitForSelector(`${byTestId("result")}[data-outcome]:not(:empty)`);
      const result = await page.$eval(byTestId("result"), (r) => ({ outcome: r.dataset.outcome, text: r.textContent }));
      assert.equal(result.outcome, "failure");
      // Whole chunks only: the byte count is a multiple of the 16-byte chunk.
      const bytes = Number(/^update failed: interrupted after (\d+) of 60160 bytes/.exec(result.text)?.[1]);
      assert.ok(bytes >= 20 * 256 && bytes % 16 === 0, result.text);
      assert.ok((await logLines(page)).includes("the update stops after the chunk being written"));
    } finally {
      await page.close();
    }
  });
});

describe("options and checksum", () => {
  test("a writable option is written on and off, read back and shown", async () => {
    const page = await readyPage("?simulate");
    try {
      const menuSwap = byTestId("option-2");
      await page.waitForSelector(`${menuSwap}:not([disabled])`);
      assert.equal(await page.$eval(menuSwap, (box) => box.checked), false);
      await page.click(menuSwap);
      await page.waitForFunction((selector) => {
        const box = document.querySelector(selector);
        return box.checked && !box.disabled;
      }, {}, menuSwap);
      assert.equal((await logLines(page)).at(-1), "option Swapped actions in the menu set on");
      // And back off.
      await page.click(menuSwap);
      await page.waitForFunction((selector) => {
        const box = document.querySelector(selector);
        return !box.checked && !box.disabled;
      }, {}, menuSwap);
      assert.equal((await logLines(page)).at(-1), "option Swapped actions in the menu set off");
      // The two the meter keeps to itself cannot be changed.
      for (const fixed of ["option-0", "option-3"]) {
        assert.equal(await page.$eval(byTestId(fixed), (box) => box.disabled), true);
      }
    } finally {
      await page.close();
    }
  });

  test("the checksum is compared with the carried firmware's", async () => {
    const page = await readyPage("?simulate=up-to-date");
    try {
      await page.click(byTestId("checksum"));
      await page.waitForFunction(
        (selector) => [...document.querySelectorAll(selector)].some((li) => li.textContent.startsWith("checksum")),
        {},
        `${byTestId("log")} li`,
      );
      assert.match((await logLines(page)).at(-1), /^checksum +6097759 \(0x5D0B5F\): the carried firmware D1\.50$/);
    } finally {
      await page.close();
    }
  });
});

describe("in Russian", () => {
  test("the page and the update's words follow the browser's language", async () => {
    const page = await readyPage("?simulate=sum-mismatch", { language: "ru-RU" });
    try {
      assert.equal(await textOf(page, "update"), "Обновить прошивку до D1.50");
      assert.equal(await page.title(), "Пинцет ЛУ-14: прошивка D1.50");
      const result = await runUpdate(page);
      assert.equal(result.outcome, "failure");
      assert.match(result.text, /^обновление не удалось: /);
      assert.deepEqual((await logLines(page)).slice(0, 2), ["прибор подключён", "сохранение настроек"]);
    } finally {
      await page.close();
    }
  });
});
