// The page's WebHID adapter against a stand-in navigator.hid with a meter of
// the tests' own (support/standin-hid.mjs): the chooser and the devices
// permitted before, a whole update with its backup, the placeholder image
// refused without ?allow-placeholder, failed transfers retried, both report
// lengths the browser may give back, unplug and plug, and a browser
// without WebHID.
import { describe, test } from "node:test";
import assert from "node:assert/strict";

import { byTestId } from "./support/browser.mjs";
import { logLines, meterRead, outcomeOf, runUpdate, siteInBrowser, waitForLogLine } from "./support/page.mjs";
import { installStandInHid } from "./support/standin-hid.mjs";

const browser = siteInBrowser();

function standInPage(query, standIn, options = {}) {
  return browser.open(query, {
    ...options,
    beforeLoad: (page) => page.evaluateOnNewDocument(installStandInHid, standIn),
  });
}

describe("finding the meter", () => {
  test("the chooser offers the meter and the page reads it", async () => {
    const page = await standInPage("", { permitted: false });
    try {
      await page.waitForSelector(`${byTestId("connect")}:not([disabled])`);
      assert.equal(await page.$eval(byTestId("firmware-version"), (e) => e.textContent), "No meter connected");
      await page.click(byTestId("connect"));
      await meterRead(page);
      assert.equal(await page.evaluate(() => standIn.hid.chooserOpened), 1);
      assert.equal(await page.$eval(byTestId("firmware-version"), (e) => e.textContent), "D1.40 (complete)");
      assert.equal(await page.$eval(byTestId("battery"), (e) => e.textContent), "3.00 V");
    } finally {
      await page.close();
    }
  });

  test("a meter permitted before is found on load, and followed through unplug and plug", async () => {
    const page = await standInPage("", { permitted: true });
    try {
      await meterRead(page);
      await page.evaluate(() => standIn.unplug());
      await page.waitForFunction(
        (selector) => document.querySelector(selector).textContent === "No meter connected",
        {},
        byTestId("firmware-version"),
      );
      assert.equal(await page.$eval(byTestId("update"), (button) => button.disabled), true);
      await page.evaluate(() => standIn.plug());
      await meterRead(page);
      // A transfer of the poll that the unplug cut may add its retry lines: only these three count here.
      const plugLines = (await logLines(page)).filter((line) => /^meter (dis)?connected$/.test(line));
      assert.deepEqual(plugLines, ["meter connected", "meter disconnected", "meter connected"]);
    } finally {
      await page.close();
    }
  });

  test("a browser without WebHID is told so", async () => {
    const page = await browser.open("", {
      beforeLoad: (p) => p.evaluateOnNewDocument(() => delete Navigator.prototype.hid),
    });
    try {
      await page.waitForSelector(`${byTestId("no-webhid")}:not([hidden])`);
      assert.match(await page.$eval(byTestId("no-webhid"), (e) => e.textContent), /cannot reach USB HID devices \(WebHID\)/);
      assert.equal(await page.$eval(byTestId("connect"), (button) => button.disabled), true);
    } finally {
      await page.close();
    }
  });
});

describe("updating through WebHID", () => {
  // Whether the browser gives the report back with its report-ID byte in front.
  for (const withReportId of [false, true]) {
    test(`a whole update, ${withReportId ? "with" : "without"} the report ID in what is read`, async () => {
      const page = await standInPage("?allow-placeholder", { permitted: true, withReportId });
      try {
        await meterRead(page);
        const result = await runUpdate(page);
        assert.deepEqual(result, { outcome: "success", text: "firmware D1.50 written and verified" });
        const lines = (await logLines(page)).filter((line) => !line.startsWith("settings saved to "));
        assert.deepEqual(lines, [
          "meter connected",
          "saving settings",
          "writing firmware",
          "verifying",
          "firmware D1.50 written and verified",
        ]);
        const meter = await page.evaluate(() => ({
          flag: standIn.meter.eeprom[1023],
          version: String.fromCharCode(...standIn.meter.eeprom.slice(832, 837)),
          chunks: standIn.meter.commands.filter((c) => c === 23).length,
          commits: standIn.meter.commands.filter((c) => c === 22).length,
        }));
        assert.deepEqual(meter, { flag: 1, version: "D1.50", chunks: 3760, commits: 235 });
        const backup = await page.$eval(byTestId("backup-download"), async (link) => (await fetch(link.href)).text());
        assert.equal(backup.length, 128 * 34);
      } finally {
        await page.close();
      }
    });
  }

  test("the placeholder image is refused on a real meter without ?allow-placeholder", async () => {
    const page = await standInPage("", { permitted: true });
    try {
      await meterRead(page);
      const result = await runUpdate(page);
      assert.equal(result.outcome, "failure");
      assert.match(result.text, /^update refused: this page carries the placeholder image/);
      assert.equal(await page.evaluate(() => standIn.meter.commands.includes(23)), false, "no chunk was sent");
      assert.equal(await page.evaluate(() => standIn.meter.eeprom[1023]), 1);
    } finally {
      await page.close();
    }
  });

  test("a failed send is sent again and the option is still written", async () => {
    const page = await standInPage("", { permitted: true });
    try {
      await page.waitForSelector(`${byTestId("option-1")}:not([disabled])`);
      await page.evaluate(() => standIn.failNextSendOf(20)); // the EEPROM write
      await page.click(byTestId("option-1"));
      await waitForLogLine(page, /^option .* set on$/);
      const lines = await logLines(page);
      assert.ok(lines.includes("command 20: sent again"), lines.join("\n"));
      assert.equal(await page.evaluate(() => standIn.meter.eeprom[856]), 0, "capacitance on is 0");
    } finally {
      await page.close();
    }
  });

  test("a meter unplugged mid-update ends the update as a failure with its reason", async () => {
    const page = await standInPage("?allow-placeholder", { permitted: true });
    try {
      await meterRead(page);
      await page.evaluate(() => standIn.unplugAtCommit(20));
      await page.click(byTestId("update"));
      assert.deepEqual(await outcomeOf(page, "result"), {
        outcome: "failure",
        text: "update failed: the meter was disconnected after 5120 of 60160 bytes; reconnect it and press the update button again",
      });
    } finally {
      await page.close();
    }
  });
});
