// Putting a settings backup back from the page, on the simulated meter: the
// differences shown before anything is written, the firmware's own bytes
// (version text, after-update mark, firmware-complete flag) skipped, a file
// that is not a backup refused with its line and column, a backup whose
// name ties it to another meter written only when the user ticks so, and
// the meter read again before the writes.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { mkdir, mkdtemp, rm, writeFile } from "node:fs/promises";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { fileURLToPath } from "node:url";

import { byTestId } from "./support/browser.mjs";
import { logLines, meterRead, outcomeOf, siteInBrowser, textOf, waitForLogLine } from "./support/page.mjs";

const screenshots = fileURLToPath(new URL("../../build/web/screenshots/", import.meta.url));
const browser = siteInBrowser();
let folder;
before(async () => {
  folder = await mkdtemp(join(tmpdir(), "lu14-restore-"));
});
after(() => rm(folder, { recursive: true, force: true }));

const planLines = (page) =>
  page.$$eval(`${byTestId("restore-plan")} li`, (items) => items.map((item) => item.textContent));

async function readyPage(query = "?simulate", options) {
  const page = await browser.open(query, options);
  await meterRead(page);
  return page;
}

// The page's own settings backup: its name and its 128 lines.
async function backupOf(page) {
  await page.click(byTestId("backup"));
  await page.waitForSelector(`${byTestId("backup-download")}:not([hidden])`);
  const { name, text } = await page.$eval(byTestId("backup-download"), async (link) => ({
    name: link.download,
    text: await (await fetch(link.href)).text(),
  }));
  return { name, lines: text.split("\r\n").slice(0, 128) };
}

// A backup's lines with the byte at `address` set to `value`.
function withByte(lines, address, value) {
  const changed = [...lines];
  const line = Math.floor(address / 16);
  const at = (address % 16) * 2;
  changed[line] = changed[line].slice(0, at) + value.toString(16).toUpperCase().padStart(2, "0") + changed[line].slice(at + 2);
  return changed;
}

// Picks the file `name` holding `text` in the page's restore chooser.
async function pickFile(page, name, text) {
  const file = join(folder, name);
  await writeFile(file, text);
  const before = (await logLines(page)).length;
  await (await page.$(byTestId("restore-file"))).uploadFile(file);
  // The page has read the file (and the meter) once the log grows or the plan shows.
  await page.waitForFunction(
    (log, plan, count) =>
      document.querySelectorAll(`${log} li`).length > count || document.querySelectorAll(`${plan} li`).length > 0,
    {},
    byTestId("log"),
    byTestId("restore-plan"),
    before,
  );
}

const switchOption = async (page, index, on) => {
  const box = byTestId(`option-${index}`);
  await page.click(box);
  await page.waitForFunction((selector, wanted) => {
    const element = document.querySelector(selector);
    return element.checked === wanted && !element.disabled;
  }, {}, box, on);
};

describe("restoring a backup", () => {
  test("an option changed since the backup is shown, then written back and read back", async () => {
    const page = await readyPage();
    try {
      const backup = await backupOf(page);
      await switchOption(page, 2, true);
      await pickFile(page, backup.name, backup.lines.join("\r\n") + "\r\n");
      assert.deepEqual(await planLines(page), [
        `1 bytes to write from ${backup.name}, 0 skipped:`,
        "options:",
        "  1022  meter 01  file 00  Swapped actions in the menu",
      ]);
      assert.equal(await textOf(page, "restore-notice"), "");
      assert.equal(await page.$eval(byTestId("restore-anyway"), (box) => box.checkVisibility()), false);
      // Nothing is written before the user asks.
      assert.equal(await page.$eval(byTestId("option-2"), (box) => box.checked), true);
      await mkdir(screenshots, { recursive: true });
      await page.screenshot({ path: `${screenshots}page-restore-differences.png`, fullPage: true });

      await page.click(byTestId("restore-write"));
      assert.deepEqual(await outcomeOf(page, "restore-result"), {
        outcome: "success",
        text: `1 bytes written and read back: the meter holds the settings of ${backup.name}`,
      });
      await page.waitForFunction((selector) => !document.querySelector(selector).checked, {}, byTestId("option-2"));
      assert.equal(await page.$eval(byTestId("restore-write"), (button) => button.disabled), true);
    } finally {
      await page.close();
    }
  });

  test("the firmware's own bytes are shown as skipped and never written", async () => {
    const page = await readyPage();
    try {
      const backup = await backupOf(page);
      let lines = backup.lines;
      for (const address of [832, 833, 834, 835, 836, 958, 1023]) lines = withByte(lines, address, 0x5a);
      lines = withByte(lines, 100, 0x42);
      assert.notEqual(backup.lines[6], lines[6]);
      await pickFile(page, backup.name, lines.join("\n"));
      const plan = await planLines(page);
      assert.equal(plan[0], `1 bytes to write from ${backup.name}, 7 skipped:`);
      const held = backup.lines[6].slice(8, 10); // address 100: line 6, byte 4
      assert.deepEqual(plan.slice(1, 3), ["other bytes:", `   100  meter ${held}  file 42`]);
      assert.equal(plan[3], "skipped (written only by a firmware update):");
      assert.deepEqual(
        plan.slice(4).map((line) => line.trim().split(/ +/)[0]),
        ["832", "833", "834", "835", "836", "958", "1023"],
      );
      assert.match(plan.at(-1), /file 5A {2}firmware-complete flag$/);
      await page.click(byTestId("restore-write"));
      assert.equal((await outcomeOf(page, "restore-result")).outcome, "success");
      // Picked again: the written byte now agrees, the skipped ones still differ.
      await pickFile(page, backup.name, lines.join("\n"));
      assert.equal((await planLines(page))[0], `0 bytes to write from ${backup.name}, 7 skipped:`);
      assert.deepEqual(await outcomeOf(page, "restore-result"), {
        outcome: "success",
        text: `the meter already holds the settings of ${backup.name}: nothing to write`,
      });
    } finally {
      await page.close();
    }
  });

  test("a meter changed after the differences were shown is read again and nothing is written", async () => {
    const page = await readyPage();
    try {
      const backup = await backupOf(page);
      await switchOption(page, 2, true);
      await pickFile(page, backup.name, backup.lines.join("\r\n"));
      assert.equal((await planLines(page)).length, 3);
      // The user puts the option back by hand before writing.
      await switchOption(page, 2, false);
      await page.click(byTestId("restore-write"));
      await waitForLogLine(page, /settings changed since the differences were shown/);
      assert.deepEqual(await planLines(page), []);
      assert.equal(await page.$eval(byTestId("restore-write"), (button) => button.disabled), true);
    } finally {
      await page.close();
    }
  });
});

describe("files the page does not write", () => {
  const cases = [
    { language: "en-US", name: "notes.hex", text: "hello\r\n", says: 'notes.hex is not a settings backup: line 1, column 1: "h" where a hex digit belongs; nothing was written' },
    { language: "ru-RU", name: "notes.hex", text: "hello\r\n", says: 'notes.hex - не резервная копия настроек: строка 1, столбец 1: "h" на месте шестнадцатеричной цифры; ничего не записано' },
    { language: "en-US", name: "short.hex", text: `${"0".repeat(32)}\r\n`, says: "short.hex is not a settings backup: line 2, column 1: the file ends before its 128 lines; nothing was written" },
    { language: "en-US", name: "big.hex", text: "0".repeat(5000), says: "big.hex is larger than a settings backup (4352 bytes), so it is not one; nothing was written" },
  ];
  for (const { language, name, text, says } of cases) {
    test(`${name} (${language})`, async () => {
      const page = await readyPage("?simulate", { language });
      try {
        await pickFile(page, name, text);
        assert.deepEqual(await outcomeOf(page, "restore-result"), { outcome: "failure", text: says });
        assert.deepEqual(await planLines(page), []);
        assert.equal(await page.$eval(byTestId("restore-write"), (button) => button.disabled), true);
      } finally {
        await page.close();
      }
    });
  }
});

describe("a backup its name does not tie to this meter", () => {
  test("is shown with the doubt and written only once the user ticks so", async () => {
    const page = await readyPage();
    try {
      const backup = await backupOf(page);
      await switchOption(page, 2, true);
      const other = `C${backup.name.slice(1)}`;
      await pickFile(page, other, backup.lines.join("\r\n"));
      assert.match(await textOf(page, "restore-notice"), new RegExp(`^${other} is a backup of the meter C[0-9A-F]{34}, not of this one \\(B`));
      assert.equal(await page.$eval(byTestId("restore-anyway"), (box) => box.checkVisibility()), true);
      assert.equal((await planLines(page)).length, 3);

      await page.click(byTestId("restore-write"));
      await waitForLogLine(page, /; tick "Write it into this meter all the same" to write it all the same$/);
      assert.equal(await page.$eval(byTestId("option-2"), (box) => box.checked), true, "nothing written unticked");

      await page.click(byTestId("restore-anyway"));
      await page.click(byTestId("restore-write"));
      assert.equal((await outcomeOf(page, "restore-result")).outcome, "success");
      await page.waitForFunction((selector) => !document.querySelector(selector).checked, {}, byTestId("option-2"));
    } finally {
      await page.close();
    }
  });
});
