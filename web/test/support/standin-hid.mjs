// A stand-in for the browser's navigator.hid with one meter behind it, of the
// tests' own making (it shares nothing with the simulated meter compiled into
// the page): enough of the meter's command protocol for a status read, the
// options, a backup and a whole update. Installed into the page before its
// scripts run; the test drives it through window.standIn (plug, unplug,
// transfers that fail, what the meter was sent).
//
// The function is serialised into the page: it must not use anything from
// this module's scope.
export function installStandInHid({ permitted = false, withReportId = false } = {}) {
  const kVendorId = 0xff4d;
  const kProductId = 0xf538;
  const kReportBytes = 18; // the report-ID byte not counted

  class StandInMeter {
    constructor() {
      this.vendorId = kVendorId;
      this.productId = kProductId;
      this.productName = "LU-14 stand-in";
      this.collections = [
        {
          usagePage: 0xff00,
          usage: 1,
          inputReports: [],
          outputReports: [],
          featureReports: [{ reportId: 0, items: [{ reportSize: 8, reportCount: kReportBytes }] }],
        },
      ];
      this.opened = false;
      this.attached = true;
      this.eeprom = new Uint8Array(2048);
      [..."D1.40"].forEach((c, i) => (this.eeprom[832 + i] = c.charCodeAt(0)));
      this.eeprom[1023] = 1; // firmware complete
      this.eeprom.set([0x00, 0x00, 0x80, 0x3f], 976); // battery coefficient 1.0, LSB first
      this.eeprom[856] = 1; // capacitance option off (0 is on)
      this.eeprom[1022] = 0; // menu swap off
      this.eeprom[957] = 1; // not a modified meter (0 is on)
      this.batteryRaw = 48000; // 3.0 V with the coefficient 1.0
      this.streamedSum = 0;
      this.reply = new Uint8Array(kReportBytes);
      // The next send of each of these commands fails (once).
      this.failingCommands = new Set();
      this.commands = [];
      this.commits = 0;
      // Pulled out right after it answered this page commit (0: never).
      this.unplugAtCommit = 0;
    }
    async open() {
      if (!this.attached) throw new DOMException("The device is gone.", "NotFoundError");
      this.opened = true;
    }
    async close() {
      this.opened = false;
    }
    async sendFeatureReport(reportId, data) {
      if (!this.opened) throw new DOMException("The device must be opened first.", "InvalidStateError");
      if (reportId !== 0 || data.byteLength !== kReportBytes) throw new TypeError("not the meter's report");
      const out = new Uint8Array(data.buffer ?? data, data.byteOffset ?? 0, kReportBytes);
      if (this.failingCommands.delete(out[kReportBytes - 1])) {
        throw new DOMException("Failed to write the feature report.", "NotAllowedError");
      }
      this.answer(out);
    }
    async receiveFeatureReport(reportId) {
      if (!this.opened) throw new DOMException("The device must be opened first.", "InvalidStateError");
      const bytes = withReportId ? Uint8Array.of(reportId, ...this.reply) : Uint8Array.from(this.reply);
      if (this.commits === this.unplugAtCommit && this.commands.at(-1) === 22) window.standIn.unplug();
      return new DataView(bytes.buffer);
    }
    // Report byte k (1..18) is out[k - 1]; the reply likewise.
    answer(out) {
      const at = (k) => out[k - 1];
      const command = at(18);
      const parameter = (at(1) << 8) | at(2);
      const reply = new Uint8Array(kReportBytes);
      for (let k = 3; k <= 17; ++k) reply[k - 1] = at(k); // the echo
      reply[17] = 0; // done
      this.commands.push(command);
      switch (command) {
        case 20:
          this.eeprom[parameter] = at(3);
          if (parameter === 1023 && at(3) === 0x88) this.streamedSum = 0;
          break;
        case 21:
          reply[0] = this.eeprom[parameter];
          break;
        case 23: {
          let sum = 0;
          for (let k = 1; k <= 17; ++k) sum += at(k);
          reply[0] = sum & 0xff;
          reply[1] = (sum >> 8) & 0xff;
          for (let k = 2; k <= 17; ++k) this.streamedSum = (this.streamedSum + at(k)) % 0x1000000;
          break;
        }
        case 24:
        case 28:
        case 29:
          reply[0] = parameter === 0x0093 ? 1 : (parameter >> 8) * 17 + command;
          break;
        case 25:
          reply[0] = this.streamedSum & 0xff;
          reply[1] = (this.streamedSum >> 8) & 0xff;
          reply[2] = (this.streamedSum >> 16) & 0xff;
          break;
        case 27:
          reply[0] = this.batteryRaw >> 8;
          reply[1] = this.batteryRaw & 0xff;
          break;
        case 22:
          this.commits += 1;
          break;
        default: // 30 query: nothing to give back
          break;
      }
      this.reply = reply;
    }
  }

  class StandInHid extends EventTarget {
    constructor() {
      super();
      this.meter = new StandInMeter();
      this.permitted = permitted;
      this.chooserOpened = 0;
    }
    async getDevices() {
      return this.permitted && this.meter.attached ? [this.meter] : [];
    }
    async requestDevice({ filters }) {
      this.chooserOpened += 1;
      const offered = filters.some((f) => f.vendorId === kVendorId && f.productId === kProductId);
      if (!offered || !this.meter.attached) return [];
      this.permitted = true;
      return [this.meter];
    }
    announce(type) {
      const event = new Event(type);
      event.device = this.meter;
      this.dispatchEvent(event);
    }
  }

  const hid = new StandInHid();
  Object.defineProperty(navigator, "hid", { value: hid, configurable: true });
  window.standIn = {
    hid,
    meter: hid.meter,
    unplug() {
      hid.meter.attached = false;
      hid.meter.opened = false;
      hid.announce("disconnect");
    },
    plug() {
      hid.meter.attached = true;
      if (hid.permitted) hid.announce("connect");
    },
    // The meter leaves at a known point of an update: right after it answered
    // page commit n, so that the page hears of it before the next chunk.
    unplugAtCommit(n) {
      hid.meter.unplugAtCommit = n;
    },
    // The next send of this command fails: the status poll, which runs
    // meanwhile, never sends the commands a test aims at.
    failNextSendOf(command) {
      hid.meter.failingCommands.add(command);
    },
  };
}
