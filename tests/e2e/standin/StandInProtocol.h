// What the stand-in hid.dll and setupapi.dll share with the tests that drive
// them: the control window, the file of meters present at start, and the
// state dump. Standard library only, so the test side includes it as well.
//
// The stand-ins serve simulated meters (lu14::sim::SimMeter) to the real
// lu14-updater.exe and lu14.exe (whose main thread reads the control window's
// messages between its own). Both take setupapi.dll and hid.dll from the system
// folder only, so the tests put these there, in the Wine prefix of the run
// (and the prefix prefers them to Wine's own for the program: see
// InstallStandIns in tests/e2e/MeterControl.h). Each program copy has the
// meters of its own folder.
//
// One bus per process. It lives in hid.dll; setupapi.dll imports
// Lu14StandInListInterfaces and the counters from hid.dll (StandInBus.h), so
// both libraries see the same devices without any shared memory. The bus is
// made at the first call into either library, on the calling thread, which in
// the program is the user-interface thread. At that moment it
//   - reads `meters.txt` beside the program, if present: one control command per
//     line (below; blank lines and lines starting with '#' skipped), run
//     without device-change notices, so `plug` lines are meters present at start;
//   - creates a hidden top-level window of class LU14SimMeterControl on that
//     thread. A test sends it WM_COPYDATA with dwData = kControlCopyDataTag and
//     the command as UTF-8 text (no terminating zero needed). The result is 1
//     when the command was carried out, 0 when it was refused (unknown
//     command, bad argument, unknown meter). A sent message runs wherever the
//     program's thread looks at its queue: between its handlers, in the message
//     loop of one of its boxes, and also inside a handler that looks at the
//     queue without taking anything from it (the window does so when it moves
//     its progress bar, at most every 100 ms, to stay responsive: in the middle
//     of a chunk tick, between a page's last chunk and its commit). A command
//     that must land between two handlers goes through `queued` (below).
//
// Each meter is present at a device path that is a real file (so that the
// program's CreateFileW, which is kernel32's, opens it); the bus tells device
// handles apart by the file's identity (GetFileInformationByHandle). Every plug
// makes a new file and a new device instance; handles to an unplugged one fail
// every call, and its file is deleted at the first scan that finds no handle
// holding it, so that opening the stale path fails too.
//
// Commands (numbers decimal or 0x-hexadecimal; <id> a meter's number):
//   plug <id> [<vendor> <product>]   connect meter <id>. The first plug makes a
//                                    fresh meter (firmware "D1.50", complete, every
//                                    option off); later plugs reconnect the same
//                                    meter with its memory. Vendor and product
//                                    (default 0xFF4D 0xF538) make another HID device.
//   unplug <id>                      pull it out.
//   devices-changed                  a device-tree change that touches no HID device.
//       plug, unplug and devices-changed post WM_DEVICECHANGE (DBT_DEVNODES_CHANGED,
//       second parameter 0) to every top-level window, as the system does.
//   latency <us>                     time every feature transfer takes from now on (default 0).
//   unplug-at-transfer <n> <id>      the n-th feature transfer from now on (1-based,
//                                    over all devices) finds meter <id> pulled out:
//                                    it is unplugged as that transfer starts.
//   eeprom <id> <address> <value>    set an EEPROM byte.
//   version <id> <text>              the five characters at EEPROM 832-836.
//   info <id> <command> <selector> <value>   the information byte of command 24, 28 or 29.
//   battery <id> <raw>               the raw battery measurement (command 27).
//   report-length <id> <bytes>       FeatureReportByteLength that HidP_GetCaps reports
//                                    from its next call on (default 19).
//   sum-mismatch-at-chunk <id> <n>   the n-th chunk write (0-based, counted from now
//                                    on) is answered with a wrong sum.
//   busy-forever <id> <command> <n>  the n-th command with this code (0-based, from
//                                    now on) answers busy to every read.
//   busy <id> <command> <n> <reads>  the same for <reads> reads.
//   corrupt-echo <id> <command> <n> [<count>]  <count> (default 1) commands from the
//                                    n-th on echo their data wrongly.
//   fail-sends <id> <n>, fail-reads <id> <n>   the next n SetFeature / GetFeature fail.
//   fail-reply-read <id> <command> <parameter> <read> [<reads> [<commands>]]
//                                    reads of the reply to a chosen command fail:
//                                    after each of the next <commands> (default 1)
//                                    commands that the meter receives with this code
//                                    and this parameter (bytes 1-2, high first), the
//                                    <read>-th GetFeature counted from that command
//                                    (1-based) and the <reads> - 1 after it (default
//                                    1 in all) fail, as the meter's transfer faults do.
//                                    "all" for <reads>: every read until the next
//                                    command; for <commands>: every such command
//                                    from now on. A command that reads a byte is
//                                    answered by its first read; its second read
//                                    (the reply read again for its byte) is read 2:
//                                    `fail-reply-read 1 21 300 2` fails that read
//                                    once for EEPROM byte 300, `... 2 all all` for
//                                    every attempt to read it. Replaces the meter's
//                                    earlier such fault.
//   checksum <id> <value>            what command 25 reports from now on.
//   clear-faults <id>                forget every fault of the meter.
//   queued <command>                 run <command> when the program's thread next
//                                    takes a posted message from its queue: in its
//                                    message loop (or a box's), never inside a handler.
//                                    The result says only that it was queued; the
//                                    command's own outcome is counted in the dump
//                                    (refused-queued).
//   window-fonts <path>              write the fonts of the program's window to <path>:
//                                    lines "control <id> <font>" for every control
//                                    below it, and "hints <font>"; <font> is
//                                    "<height> <weight> <face>" as LOGFONT holds them,
//                                    or "none". (Font handles mean nothing outside the
//                                    program's process, so the stand-in reads them.)
//   dump <id> <path>                 write the meter's state to <path> now (below).
//   dump-at-exit <id> <path>         write it when the program's process ends.
//   record-transfers                 start recording every feature transfer afresh
//                                    (what went over the bus, when: below).
//   write-transfers <path>           write the recording so far to <path>; it goes on.
//   write-transfers-at-exit <path>   write it when the program's process ends.
//
// The dump is UTF-8 text, one "<key> <value>" line each:
//   present 1|0          connected now
//   flag <n>             EEPROM 1023, decimal
//   version <text>       EEPROM 832-836 as characters
//   eeprom <hex>         the 2048 EEPROM bytes, two hexadecimal digits each
//   flash <hex>          the first 60160 flash bytes (the streamed image)
//   commits <pages>      page indexes of the accepted commits, in order, blank-separated
//   refused-commits <n>  commits refused (wrong page or model code)
//   received <code>:<count> ...   commands received, by code
//   transfers <n>        feature transfers the meter has seen
//   failed-reply-reads <n>   reads that fail-reply-read failed
//   sets-open <n>        device information sets not yet destroyed (whole bus)
//   preparsed-live <n>   preparsed data not yet freed (whole bus)
//   refused-calls <n>    calls refused for a wrong record size or argument (whole bus)
//   refused-queued <n>   queued commands refused when their turn came (whole bus)
//
// The transfer recording is an lu14 recording (hid/record/Recording.h), as
// `lu14 --record` writes one, written by the same code: the header (the
// platform "stand-in", the command line of the process the stand-in serves,
// and counterFrequency, the performance counter's counts per second), then
// one line per feature transfer in the order they were made, numbered from 1
// since record-transfers: "dir" set for HidD_SetFeature, get for
// HidD_GetFeature; "bytes" the report sent, or the one answered (a failed
// read: the caller's buffer); "result"; "path" the device's path as setupapi
// lists it; "us" the microseconds from record-transfers to the transfer's end;
// and counterBegin and counterEnd, the performance counter as the call
// entered the stand-in and as it left it (the latency spent in between).
// Only transfers that reach a device of the bus are recorded. It holds no
// present, attributes or caps lines.
#pragma once

#include <cstdint>
#include <string_view>

namespace lu14::e2e {

inline constexpr wchar_t kControlWindowClass[] = L"LU14SimMeterControl";
inline constexpr std::uintptr_t kControlCopyDataTag = 0x4C553134;  // "LU14"
inline constexpr wchar_t kMetersFileName[] = L"meters.txt";
// Beside the program; holds the device files.
inline constexpr wchar_t kDeviceFolderName[] = L"lu14-sim-devices";

inline constexpr std::uint16_t kMeterVendorId = 0xFF4D;
inline constexpr std::uint16_t kMeterProductId = 0xF538;

}  // namespace lu14::e2e
