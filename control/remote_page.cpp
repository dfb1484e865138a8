#include "control/remote_page.h"

namespace {

// Everything that came from the program (titles, artists, rows, the clock) goes in as text, never
// as markup: a track title is whatever its tags say.
constexpr std::string_view kPage = R"VXPAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1">
<title>Veldmix remote</title>
<style>
body{margin:0;background:#111418;color:#e8e8ea;font:15px system-ui,sans-serif}
header{display:flex;justify-content:space-between;align-items:center;padding:10px 14px;background:#1b1f26}
h1{margin:0;font-size:18px;letter-spacing:3px}
#status{color:#9aa3ad;font-size:13px}
main{padding:10px;display:grid;gap:10px;grid-template-columns:repeat(auto-fit,minmax(290px,1fr))}
.card{background:#1b1f26;border-radius:8px;padding:10px;border-top:4px solid #444}
.title{font-weight:600;white-space:pre;overflow:hidden;text-overflow:ellipsis}
.artist,.info{color:#9aa3ad;font-size:13px;min-height:1.2em;white-space:pre}
.row{display:flex;flex-wrap:wrap;gap:6px;margin-top:8px}
button{flex:1;min-width:54px;padding:10px 4px;border:0;border-radius:6px;background:#2a303a;color:#e8e8ea;font-weight:600}
button.on{background:#e0a030;color:#111}
button[data-a=cue]{touch-action:none;user-select:none;-webkit-user-select:none}
input[type=range]{width:100%;margin-top:10px}
#lib div{padding:4px 6px;border-radius:4px;white-space:pre;overflow:hidden;text-overflow:ellipsis}
#lib div.sel{background:#2f4a6a}
#pin{position:fixed;inset:0;background:#111418;display:none;flex-direction:column;align-items:center;justify-content:center;gap:12px;text-align:center}
#pin input{font-size:28px;width:6em;text-align:center}
#pin button{flex:none;width:8em;padding:12px 4px}
#pinmsg{color:#ff6b6b;font-weight:600;min-height:1.2em}
.hint{color:#9aa3ad;font-size:13px}
</style></head><body>
<header><h1>VELDMIX</h1><span id="status">not connected</span></header>
<main>
<div class="card deck" data-side="0"></div>
<div class="card deck" data-side="1"></div>
<div class="card"><div class="info">CROSS-FADER</div>
<input type="range" id="xf" min="0" max="1000" value="500">
<div class="row"><button data-cmd="mixer.automix" data-lit="automix">AUTOMIX</button><button data-cmd="mixer.sandbox" data-lit="sandbox">SANDBOX</button><button data-cmd="mixer.rec" data-lit="rec">REC</button></div>
<div class="row"><button data-cmd="mixer.glide">GLIDE</button><button data-cmd="mixer.quantize">QUANTIZE</button></div></div>
<div class="card"><div class="info">LIBRARY</div><div id="lib"></div>
<div class="row"><button id="up">&#9650;</button><button id="down">&#9660;</button><button data-cmd="deck.0.load">LOAD &#9664;</button><button data-cmd="deck.1.load">LOAD &#9654;</button></div></div>
</main>
<div id="pin"><div>Enter the PIN shown in Veldmix</div><div class="hint">(Settings &#9656; BROADCAST &#9656; PHONE REMOTE)</div>
<input id="pinfield" type="tel" inputmode="numeric" maxlength="6" autocomplete="off"><button id="connect">CONNECT</button>
<div id="pinmsg"></div></div>
<template id="deckT"><div class="title"></div><div class="artist"></div><div class="info"><span class="time"></span>  <span class="remain"></span>  <span class="bpm"></span></div>
<div class="row"><button data-a="cue">CUE</button><button data-a="play" data-lit="playing">&#9654;&#10074;&#10074;</button><button data-a="sync" data-lit="sync">SYNC</button></div>
<div class="row"><button data-a="hotcue1" data-hot="0">1</button><button data-a="hotcue2" data-hot="1">2</button><button data-a="hotcue3" data-hot="2">3</button><button data-a="hotcue4" data-hot="3">4</button></div>
<div class="row"><button data-a="loop" data-lit="loop">LOOP</button><button data-a="jumpback">&#9664;&#9664;</button><button data-a="jumpfwd">&#9654;&#9654;</button><button data-a="pfl" data-lit="pfl">PFL</button></div>
<input type="range" class="vol" min="0" max="1000" value="1000"></template>
<script>
"use strict";
const $ = s => document.querySelector(s);
let pin = localStorage.getItem("vxpin") || "";
let dragging = null;
function api(path, args, keep) {
  return fetch(path + "?pin=" + encodeURIComponent(pin) + (args ? "&" + args : ""), {cache: "no-store", keepalive: !!keep});
}
function send(name, extra, keep) {
  return api("/api/do", "name=" + encodeURIComponent(name) + "&" + extra, keep).catch(() => {});
}
// A button held down: pressed once, released once by whatever ends the press first: the finger
// lifted anywhere (seen by the window as well as the button, which captures the pointer when the
// browser lets it), a cancelled touch, a lost capture, or the page hidden or left. The release
// waits for the press to reach the program, so it never arrives first.
const releases = new Map();  // release -> the pointer holding it
function holdButton(b, name) {
  let sent = null;
  const release = () => {
    if (!sent) return;
    const pressed = sent;
    sent = null;
    releases.delete(release);
    pressed.then(() => send(name, "up=1", true));
  };
  b.addEventListener("pointerdown", e => {
    e.preventDefault();
    if (sent) return;
    try { b.setPointerCapture(e.pointerId); } catch (err) {}
    sent = send(name, "down=1", true);
    releases.set(release, e.pointerId);
  });
  for (const e of ["pointerup", "pointercancel", "lostpointercapture"]) b.addEventListener(e, release);
  b.addEventListener("contextmenu", e => e.preventDefault());
}
function releaseAll() { for (const release of [...releases.keys()]) release(); }
function releasePointer(e) {
  for (const [release, pointer] of [...releases]) if (pointer === e.pointerId) release();
}
window.addEventListener("pointerup", releasePointer, true);
window.addEventListener("pointercancel", releasePointer, true);
document.addEventListener("visibilitychange", () => { if (document.hidden) releaseAll(); });
window.addEventListener("pagehide", releaseAll);
function hold(el) {
  el.addEventListener("pointerdown", () => { dragging = el; });
  for (const e of ["pointerup", "pointercancel", "change"]) el.addEventListener(e, () => { dragging = null; });
}
function slider(el, name) {
  hold(el);
  el.addEventListener("input", () => send(name, "value=" + (el.value / 1000)));
}
document.querySelectorAll(".deck").forEach(card => {
  const side = card.dataset.side;
  card.appendChild($("#deckT").content.cloneNode(true));
  card.querySelectorAll("button").forEach(b => {
    const name = "deck." + side + "." + b.dataset.a;
    if (b.dataset.a === "cue") {
      holdButton(b, name);
    } else {
      b.addEventListener("click", () => send(name, "press=1"));
    }
  });
  slider(card.querySelector(".vol"), "deck." + side + ".vol");
});
document.querySelectorAll("button[data-cmd]").forEach(b => b.addEventListener("click", () => send(b.dataset.cmd, "press=1")));
slider($("#xf"), "mixer.xfader");
$("#up").addEventListener("click", () => send("lib.browse", "delta=-1"));
$("#down").addEventListener("click", () => send("lib.browse", "delta=1"));
$("#connect").addEventListener("click", () => {
  pin = $("#pinfield").value;
  localStorage.setItem("vxpin", pin);
  $("#pin").style.display = "none";
  poll();
});
function setSlider(el, v) { if (el !== dragging && typeof v === "number") el.value = Math.round(v * 1000); }
function show(s) {
  $("#status").textContent = typeof s.clock === "string" && s.clock ? s.clock : "connected";
  document.querySelectorAll(".deck").forEach(card => {
    const d = (s.decks || [])[card.dataset.side] || {};
    if (/^#[0-9A-Fa-f]{6}$/.test(d.color || "")) card.style.borderTopColor = d.color;
    card.querySelector(".title").textContent = (d.letter || "") + "  " + (d.title || "Empty deck");
    card.querySelector(".artist").textContent = d.artist || "";
    card.querySelector(".time").textContent = d.time || "";
    card.querySelector(".remain").textContent = d.remain || "";
    card.querySelector(".bpm").textContent = d.bpm ? d.bpm + " BPM" : "";
    card.querySelectorAll("[data-lit]").forEach(b => b.classList.toggle("on", d[b.dataset.lit] === true));
    card.querySelectorAll("[data-hot]").forEach(b => b.classList.toggle("on", (d.hot || [])[b.dataset.hot] === 1));
    setSlider(card.querySelector(".vol"), d.vol);
  });
  document.querySelectorAll("button[data-cmd][data-lit]").forEach(b => b.classList.toggle("on", s[b.dataset.lit] === true));
  setSlider($("#xf"), s.xf);
  const lib = $("#lib");
  lib.replaceChildren(...(s.lib || []).map(r => {
    const div = document.createElement("div");
    div.textContent = r.title;
    if (r.sel) div.className = "sel";
    return div;
  }));
}
let busy = false;
// While the PIN screen shows nothing is asked: every refused request counts as a wrong guess.
async function poll() {
  if (busy || $("#pin").style.display === "flex") return;
  busy = true;
  try {
    const r = await api("/api/state");
    if (r.status === 403) {
      $("#status").textContent = "PIN needed";
      // The screen is on top of the status line: a PIN that was tried is said wrong on it.
      $("#pinmsg").textContent = pin ? "Wrong PIN \u2014 try again" : "";
      $("#pin").style.display = "flex";
    } else if (r.ok) {
      show(await r.json());
    } else {
      $("#status").textContent = "not connected";
    }
  } catch (e) {
    $("#status").textContent = "not connected";
  }
  busy = false;
}
setInterval(poll, 300);
poll();
</script></body></html>
)VXPAGE";

}  // namespace

std::string_view RemotePage() { return kPage; }
