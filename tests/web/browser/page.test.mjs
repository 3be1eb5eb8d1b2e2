// The web page in a real browser against the built program: Debian's
// chromium, headless, driven by puppeteer-core. The program runs without a
// window with one rotator on an emulated controller (gs232emu), whose log
// of received commands shows what reached the line. The page is logged into,
// shows the rotator, aims by a click on the dial (the controller gets "M"),
// stops by the big Stop button and by Esc (it gets "S"), its needle follows
// the controller, nothing overflows sideways on a 390 px wide phone, and it
// shows when the program is gone. Screenshots of both sizes are saved for
// people to look at.
//
// Usage: node page.test.mjs PROGRAM EMULATOR SCREENSHOT_FOLDER

import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import puppeteer from "puppeteer-core";

const [program, emulator, shots] = process.argv.slice(2);
if (!program || !emulator || !shots) {
  console.error("usage: page.test.mjs PROGRAM EMULATOR SCREENSHOT_FOLDER");
  process.exit(2);
}
// Generous: the machine may be slow and loaded.
const WAIT = 30000;
const PASSWORD = "tower-secret-42";

const children = [];
let failures = 0;
let passes = 0;
const folder = fs.mkdtempSync(path.join(os.tmpdir(), "orbalt-web-"));
fs.mkdirSync(shots, { recursive: true });

// The program's environment: no display, no session bus, the single-
// instance lock in the test's own folder.
const env = { ...process.env, XDG_RUNTIME_DIR: path.join(folder, "run"), TMPDIR: folder,
  DBUS_SESSION_BUS_ADDRESS: "unix:path=" + path.join(folder, "no-bus"), QT_QPA_PLATFORM: "offscreen" };
delete env.DISPLAY;
delete env.WAYLAND_DISPLAY;
delete env.ORBALT_SETTINGS;
fs.mkdirSync(env.XDG_RUNTIME_DIR, { mode: 0o700 });

function check(name, condition, detail = "") {
  if (condition) { passes++; console.log("ok   " + name); }
  else { failures++; console.log("FAIL " + name + (detail ? ": " + detail : "")); }
}

async function waitFor(test, ms = WAIT) {
  const end = Date.now() + ms;
  for (;;) {
    if (await test()) return true;
    if (Date.now() > end) return false;
    await new Promise((r) => setTimeout(r, 100));
  }
}

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The emulator, its device and the commands it received (without polls).
const emu = spawn(emulator, ["--verbose", "--time-scale", "10"], { stdio: ["ignore", "pipe", "inherit"] });
children.push(emu);
let emuOut = "";
emu.stdout.on("data", (d) => { emuOut += d.toString(); });
const received = () => emuOut.split("\n").slice(1).map((l) => l.trim().split(/\s+/)[1])
  .filter((c) => c && c !== "C" && c !== "C2");
let mark = 0;
// Commands received since the last call.
const since = () => { const all = received(); const out = all.slice(mark); mark = all.length; return out; };

async function main() {
  if (!await waitFor(() => emuOut.includes("\n"))) throw new Error("the emulator did not start");
  const device = emuOut.split("\n")[0].trim();

  const settings = path.join(folder, "orbalt.xml");
  fs.writeFileSync(settings, `<?xml version="1.0" encoding="utf-8"?>
<root><Rotators><Rotator_0><Title Type="10">Tower</Title><Enable Type="2">-1</Enable>
<AutoActive Type="2">-1</AutoActive><CenterPosition Type="9">1</CenterPosition>
<Port Type="10">${device}</Port></Rotator_0></Rotators></root>
`);
  const set = spawnSync(program, ["--settings", settings, "--web-password"],
    { input: PASSWORD + "\n", env, encoding: "utf8" });
  check("the password is set from standard input", set.status === 0, set.stderr);
  check("the document keeps only a hash", !fs.readFileSync(settings, "utf8").includes(PASSWORD));

  const port = await freePort();
  const base = `http://127.0.0.1:${port}`;
  const start = () => {
    const p = spawn(program, ["--headless", "--settings", settings, "--web", String(port)],
      { env, stdio: ["ignore", "inherit", "inherit"] });
    children.push(p);
    return p;
  };
  const serving = () => waitFor(async () => {
    try { return (await fetch(base + "/api/session")).ok; } catch { return false; }
  });
  let orbalt = start();
  if (!await serving()) throw new Error("the program does not serve the page");

  const browser = await puppeteer.launch({
    executablePath: process.env.ORBALT_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    userDataDir: path.join(folder, "chromium"),
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 860 });
    await page.goto(base + "/", { waitUntil: "load" });

    // Login.
    await page.waitForSelector("#password", { visible: true, timeout: WAIT });
    await page.type("#password", PASSWORD);
    await page.click("#loginbutton");
    await page.waitForSelector('.card[data-index="0"] .dial', { visible: true, timeout: WAIT });
    check("logged in, the rotator shows",
      (await page.$eval('.card[data-index="0"] h2', (e) => e.textContent)) === "Tower");
    await page.waitForFunction(() => document.getElementById("link").className === "up", { timeout: WAIT });
    check("the page says it is connected", true);
    since();

    // A click on the dial, right of its centre, aims east.
    const dialAt = async (deg) => {
      const box = await (await page.$('.card[data-index="0"] .dial')).boundingBox();
      const a = (deg - 90) * Math.PI / 180, r = box.width * 0.3;
      await page.mouse.click(box.x + box.width / 2 + r * Math.cos(a), box.y + box.height / 2 + r * Math.sin(a));
    };
    await dialAt(90);
    check("a tap on the dial sends the controller M090",
      await waitFor(() => received().slice(mark).includes("M090")), received().slice(mark).join(","));
    const needle = () => page.$eval('.card[data-index="0"] .dial', (e) => Number(e.getAttribute("data-azimuth")));
    check("the needle follows the controller on its way",
      await waitFor(async () => { const a = await needle(); return a > 0 && a < 90; }), String(await needle()));
    check("the needle arrives", await waitFor(async () => (await needle()) === 90), String(await needle()));
    await page.screenshot({ path: path.join(shots, "web-desktop.png") });
    since();

    // The big Stop, then Esc, stop a move.
    await dialAt(270);
    await waitFor(() => received().slice(mark).includes("M270"));
    await page.click("#stopall");
    check("Stop sends the controller S", await waitFor(() => received().slice(mark).includes("S")),
      received().slice(mark).join(","));
    since();
    await page.keyboard.press("Escape");
    check("Esc sends the controller S", await waitFor(() => received().slice(mark).includes("S")));
    since();

    // A refusal shows the station's reason.
    const refused = await page.evaluate(async () => {
      const r = await fetch("/api/rotators/0/target", { method: "POST",
        headers: { "Content-Type": "application/json" }, body: JSON.stringify({ azimuth: 999 }) });
      return { status: r.status, body: await r.json() };
    });
    check("an azimuth beyond the travel is refused with the reason",
      refused.status === 422 && /outside the travel/.test(refused.body.error), JSON.stringify(refused));
    check("nothing of it reached the line", !since().some((c) => c.startsWith("M")));

    // A phone: nothing wider than the screen.
    await page.setViewport({ width: 390, height: 844, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
    await page.reload({ waitUntil: "load" });
    await page.waitForSelector('.card[data-index="0"] .dial', { visible: true, timeout: WAIT });
    const widths = await page.evaluate(() => ({ doc: document.documentElement.scrollWidth,
      body: document.body.scrollWidth, view: window.innerWidth,
      stop: document.getElementById("stopall").getBoundingClientRect().bottom <= window.innerHeight }));
    check("nothing overflows sideways at 390 px", widths.doc <= widths.view && widths.body <= widths.view,
      JSON.stringify(widths));
    check("Stop is in reach without scrolling", widths.stop);
    await page.screenshot({ path: path.join(shots, "web-phone.png") });

    // The program goes: the page says so; it comes back: the page asks for
    // the password again (sessions do not outlive the program).
    orbalt.kill("SIGTERM");
    await new Promise((r) => orbalt.once("exit", r));
    check("the page shows it is not connected", await waitFor(() =>
      page.$eval("#link", (e) => e.className === "down" && e.textContent === "Not connected")));
    orbalt = start();
    check("after the restart the page reconnects by itself to the login", await waitFor(() =>
      page.$eval("#login", (e) => !e.hidden)));
  } finally {
    await browser.close();
  }
}

try {
  await main();
} catch (e) {
  failures++;
  console.log("FAIL " + (e && e.stack ? e.stack : e));
} finally {
  for (const c of children) if (c.exitCode === null) c.kill("SIGTERM");
  await new Promise((r) => setTimeout(r, 500));
  fs.rmSync(folder, { recursive: true, force: true });
}
console.log(`${passes} passed, ${failures} failed`);
process.exit(failures ? 1 : 0);
