#!/usr/bin/env bash
# veldmix-tool ai-set against a stand-in LLM server speaking Ollama's API on 127.0.0.1
# (tests/support/ollama_standin.py), over 30 ffmpeg-made tracks whose tags hold accents, quotes, a
# backslash and a line break, ten of them analysed. The logged chat request is read back by
# Python's json: members and order, options, the two messages, one catalogue line per candidate
# (matches, then analysed, then the rest). The list made holds exactly what the answer names, as
# read in order (repeats, unknown and absurd ids dropped, stopping past the length). Every scripted
# failure gives its exact text and leaves the data folder as it was; server down and model missing
# raise the install question, whose yes hands the download page to the browser.
# Labels: slow
# Cost: 135
set -u

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix-tool ffmpeg ffprobe xdg-open
unset DISPLAY WAYLAND_DISPLAY XDG_CURRENT_DESKTOP
private_home
data="$HOME/.local/share/Veldmix"
standin_pid=""

# --- 30 tracks: 10 analysed in music/analysed, 20 beside them; titles unique ---
mkdir -p "$work/music/analysed" "$work/empty"
cat >"$work/tags.py" <<'PY'
# The 30 tracks: file, seconds, title, artist, genre (JSON lines).
import json
genres = ["Deep House", "Techno", "Disco", "Ambient", "Drum & Bass"]
odd = ["Café “Déjà vu”", 'Say "When"', "Back\\slash Dub", "Two\nLines", "Ünïcødé Ça va"]
for i in range(30):
    title = odd[i] if i < len(odd) else f"Track {i:02d}"
    folder = "analysed/" if i % 3 == 0 else ""
    print(json.dumps({"file": f"{folder}t{i:02d}.flac", "seconds": 150 + 7 * i, "title": title,
                      "artist": "" if i % 7 == 3 else f"Artist {chr(65 + i % 5)}", "genre": genres[i % 5]}))
PY
/usr/bin/python3 "$work/tags.py" >"$work/tracks.jsonl"
# A click every half second gives the analysis a tempo. The sound is made once, as long as the
# longest track: each track is its start (the same samples a sound of its own length would hold).
longest=$(/usr/bin/python3 -c 'import json,sys; print(max(json.loads(l)["seconds"] for l in sys.stdin))' <"$work/tracks.jsonl")
ffmpeg -nostdin -loglevel error -y -f lavfi \
  -i "aevalsrc='0.3*sin(2*PI*220*t)+if(lt(mod(t,0.5),0.01),0.8*(random(0)*2-1),0)':s=22050:d=$longest" \
  -ac 1 -c:a flac "$work/clicks.flac" || fail "ffmpeg could not make the click track"
while IFS= read -r line; do
  eval "$(/usr/bin/python3 -c 'import json,shlex,sys; t=json.loads(sys.argv[1]); print(" ".join(f"{k}={shlex.quote(str(v))}" for k,v in t.items()))' "$line")"
  ffmpeg -nostdin -loglevel error -y -i "$work/clicks.flac" -t "$seconds" \
    -metadata title="$title" -metadata artist="$artist" -metadata genre="$genre" -c:a flac "$work/music/$file" ||
    fail "ffmpeg could not make $file"
done <"$work/tracks.jsonl"

mkdir -p "$data"
printf '[Tour]\nDone=1\n[Library]\nCount=1\nFolder0=%s\n' "$work/music/analysed" >"$data/settings.ini"
"$tool" analyse-view >"$work/analyse.out" 2>&1 || fail "analyse-view failed: $(tail -n 3 "$work/analyse.out")"

# --- The stand-in server ---
mkdir -p "$work/requests"
echo '{}' >"$work/script.json"
/usr/bin/python3 "$source_dir/tests/support/ollama_standin.py" "$work/port" "$work/script.json" "$work/requests" &
standin_pid=$!
wait_for 10 test -s "$work/port" || fail "the stand-in server did not start"
port="$(cat "$work/port")"
printf '[Tour]\nDone=1\n[Library]\nCount=1\nFolder0=%s\n[AI]\nUrl=http://127.0.0.1:%s\nModel=llama3.2\n' "$work/music/analysed" "$port" \
  >"$data/settings.ini"

answer_with() { printf '%s\n' "$1" >"$work/script.json"; }
last_chat() { ls "$work/requests"/*-POST_api_chat.bin 2>/dev/null | tail -n 1; }
# run ARGS...: the tool on the whole music folder; output in $out, exit code in $rc.
run() {
  "$tool" ai-set --folder "$work/music" "$@" >"$work/out" 2>&1
  rc=$?
  out="$(cat "$work/out")"
}
fingerprint() { (cd "$data" && find . -type f ! -name settings.ini -print0 | sort -z | xargs -0 sha256sum); }

# --- A well-formed set, ids in every form ---
# The view order (the browser's title sort) is the catalogue's order within each group.
# (A title's line break splits its row: only the lines that start with a path count.)
"$tool" search "" --folder "$work/music" | grep "^$work/music/" | cut -f1 >"$work/view.txt"
answer='{"name":"Deep: Warm/Up \u00e9 set with a very long name that goes on and on past sixty units","tracks":["3",{"id":1},3,99,1e300,-2,0,"7th",{"id":"2"},5.9,true,null,12,13,14,15,16,17,18,19,20,21]}'
answer_with "{\"models\":[\"mistral:latest\",\"LLAMA3.2:LATEST\"],\"chat\":{\"mode\":\"answer\",\"content\":$(printf '%s' "$answer" | /usr/bin/python3 -c 'import json,sys; print(json.dumps(sys.stdin.read()))')}}"
run --desc $'deep house "warm"\\ up, then techno' --minutes 20
[ $rc = 0 ] || fail "a well-formed answer made no list (exit $rc): $out"
request="$(last_chat)"
[ -n "$request" ] || fail "no chat request was logged"
printf '%s\n' "$out" >"$work/made.txt"
/usr/bin/python3 - "$request" "$work/tracks.jsonl" "$work/view.txt" "$work/made.txt" "$answer" "$work/music" <<'PY' ||
import json, math, re, subprocess, sys
req_path, tracks_path, view_path, made_path, answer, music = sys.argv[1:7]
raw = open(req_path, "rb").read()
head, _, body = raw.partition(b"\r\n\r\n")
lines = head.decode().split("\r\n")
assert lines[0] == "POST /api/chat HTTP/1.1", lines[0]
headers = {l.split(":", 1)[0].lower(): l.split(":", 1)[1].strip() for l in lines[1:]}
assert headers.get("content-type") == "application/json", headers
assert headers.get("user-agent") == "Veldmix", headers
req = json.loads(body.decode("utf-8"))
# Members in order and no white space between tokens: the compact encoding is the body itself.
assert json.dumps(req, ensure_ascii=False, separators=(",", ":")).encode() == body, "not the compact encoding"
assert list(req) == ["model", "stream", "format", "options", "messages"], list(req)
assert req["model"] == "llama3.2" and req["stream"] is False and req["format"] == "json"
assert list(req["options"].items()) == [("temperature", 0.3), ("num_ctx", 16384)], req["options"]
msgs = req["messages"]
assert [list(m) for m in msgs] == [["role", "content"]] * 2 and [m["role"] for m in msgs] == ["system", "user"]
system = msgs[0]["content"]
for phrase in ("Choose tracks ONLY from the numbered list.", "Keep neighbouring tracks within about 6% BPM.", "Camelot"):
    assert phrase in system, phrase
user = msgs[1]["content"]
prefix = ('Request: deep house "warm"\\ up, then techno\nLength: about 20 minutes\n\n'
          "Library (id | artist - title | genre | BPM | key | energy | length):\n")
assert user.startswith(prefix), user[:200]
catalogue = user[len(prefix):].split("\n")
assert catalogue[-1] == "", "the catalogue ends with a line break"
catalogue = catalogue[:-1]
tracks = [json.loads(l) for l in open(tracks_path, encoding="utf-8")]
view = [l.rstrip("\n") for l in open(view_path, encoding="utf-8")]
assert len(view) == 30 and len(catalogue) == 30, (len(view), len(catalogue))
by_path = {f"{music}/{t['file']}": t for t in tracks}
words = ["deep", "house", "warm", "then", "techno"]
pattern = re.compile(r"^(\d+) \| (.*) \| ([^|]*) \| (\d+|\?) \| (\d{1,2}[AB]|\?) \| (\d+|\?) \| (\d+):(\d\d)$")
rows = []
for n, line in enumerate(catalogue, 1):
    m = pattern.match(line)
    assert m, f"catalogue line {n}: {line!r}"
    assert int(m.group(1)) == n
    rows.append(m)
def label(t):
    title = t["title"].replace("\n", " ")
    return (t["artist"] + " - " if t["artist"] else "") + title
expected_groups = [[], [], []]
for p in view:
    t = by_path[p]
    text = (t["artist"] + " " + t["title"] + " " + t["genre"]).lower()
    analysed = "/analysed/" in p
    expected_groups[0 if any(w in text for w in words) else 1 if analysed else 2].append(p)
order = sum(expected_groups, [])
assert len(expected_groups[1]) > 0 and len(expected_groups[0]) > 0 and len(expected_groups[2]) > 0
ids = {}
for n, (m, p) in enumerate(zip(rows, order), 1):
    t = by_path[p]
    assert m.group(2) == label(t), (n, m.group(2), label(t))
    assert m.group(3) == t["genre"], (n, m.group(3))
    analysed = "/analysed/" in p
    assert (m.group(4) != "?") == analysed and (m.group(5) != "?") == analysed, (n, line)
    probe = float(subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", p],
                                 capture_output=True, text=True).stdout)
    assert int(m.group(7)) * 60 + int(m.group(8)) == int(probe), (n, m.group(7), m.group(8), probe)
    ids[n] = (p, int(m.group(7)) * 60 + int(m.group(8)))
# The picks as read: numbers, strings and ids; each once; unknown ones dropped; stop past 20 min.
content = json.loads(answer)
picks, seen, total = [], set(), 0
for item in content["tracks"]:
    v = item if isinstance(item, (int, float)) and not isinstance(item, bool) else 0
    if isinstance(item, str): v = int(re.match(r"\s*([+-]?\d*)", item).group(1) or 0)
    if isinstance(item, dict):
        i = item.get("id")
        v = i if isinstance(i, (int, float)) else int(re.match(r"\s*([+-]?\d*)", i).group(1) or 0) if isinstance(i, str) else 0
    if not (1 <= v < len(ids) + 1): continue
    pos = int(v)
    if pos in seen: continue
    if total > 20 * 60: break
    seen.add(pos); picks.append(ids[pos][0]); total += ids[pos][1]
made = open(made_path, encoding="utf-8").read().rstrip("\n").split("\n")
assert made[:-1] == picks, f"list {made[:-1]} != expected {picks}"
status = f"AI set: {len(picks)} tracks, {round(total / 60)} minutes. Right-click the list for Mix order to tighten the keys."
assert made[-1] == status, (made[-1], status)
print(f"catalogue and set agree: {len(picks)} tracks, {total} s")
PY
  fail "the request or the set is not as the answer says"
# The name cut to 60 UTF-16 units, then ":" and "/" as "-".
listname="AI · $(/usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])["name"][:60].replace(":", "-").replace("/", "-"))' "$answer")"
[ -n "$(find "$data" -name "$listname.m3u8")" ] || fail "no list \"$listname\" in the data folder"

# --- Minutes clamp ---
run --desc "anything" --minutes abc
grep -q 'Length: about 5 minutes\\n' "$(last_chat)" || fail "minutes \"abc\" did not become 5"
run --desc "anything" --minutes 1000
grep -q 'Length: about 600 minutes\\n' "$(last_chat)" || fail "minutes 1000 did not become 600"

# --- Failures: exact texts, exit 1, the data folder as it was ---
before="$(fingerprint)"
requests_before=$(ls "$work/requests" | wc -l)
expect() {  # text: the run failed with exactly that last line and changed nothing
  local last
  last="$(printf '%s\n' "$out" | tail -n 1)"
  [ $rc = 1 ] || fail "exit $rc, not 1, for: $1 ($out)"
  [ "$last" = "$1" ] || fail "expected \"$1\", got \"$out\""
  [ "$(fingerprint)" = "$before" ] || fail "the data folder changed after: $1"
}
chat() { answer_with "{\"chat\":$1}"; }
chat '{"mode":"status","status":500,"body":{"error":"model runner crashed\nline two"}}'
run --desc "deep"
expect "The AI server returned an error: model runner crashed line two"
chat '{"mode":"status","status":500,"body":"oops","raw":true}'
run --desc "deep"
expect "The AI server returned an error (500)"
chat '{"mode":"status","status":500,"body":{"error":"ollama: out of memory"}}'
run --desc "deep"
expect "The AI server returned an error: ollama: out of memory"
chat '{"mode":"answer","content":"Sure! Here is a set you will love."}'
run --desc "deep"
expect "The AI's answer wasn't in the expected form — try again, or a larger model"
chat '{"mode":"answer","content":"Here you go: {\"name\":\"x\",\"tracks\":[1,2]} Enjoy!"}'
run --desc "deep"
expect "The AI's answer wasn't in the expected form — try again, or a larger model"
chat '{"mode":"missing"}'
run --desc "deep"
expect "The AI's answer wasn't in the expected form — try again, or a larger model"
chat '{"mode":"raw","body":"<html>bad gateway</html>"}'
run --desc "deep"
expect "The AI server returned an error (200)"
chat '{"mode":"answer","content":"{\"name\":\"x\",\"tracks\":[0,99,\"abc\",null,1e300,-1,[2]]}"}'
run --desc "deep"
expect "The AI didn't pick any tracks from your library — try describing the set differently"
chat '{"mode":"huge","bytes":20971520}'
run --desc "deep"
expect "The AI server returned an error (200)"
chat '{"mode":"reset"}'
# The reset's run is what one run costs on this machine now (a loaded machine takes seconds to
# start the tool): the two timed runs are judged by what they add to it. Without a whole-answer
# deadline the trickle (one byte every 0.2 s) would take over 20 s more.
start=$(date +%s%N)
run --desc "deep"
expect "Couldn't reach the AI server"
base=$((($(date +%s%N) - start) / 1000000))
chat '{"mode":"silence"}'
start=$(date +%s%N)
run --desc "deep" --receive-timeout 1500
expect "The AI took too long to answer"
silence=$((($(date +%s%N) - start) / 1000000 - base))
chat '{"mode":"trickle","interval":0.2,"content":"{\"tracks\":[1]}"}'
start=$(date +%s%N)
run --desc "deep" --receive-timeout 2000
expect "The AI took too long to answer"
trickle=$((($(date +%s%N) - start) / 1000000 - base))
[ $silence -lt 5000 ] && [ $trickle -lt 6000 ] ||
  fail "silence and a trickle took ${silence} and ${trickle} ms more than a run that fails at once, against allowances of 1.5 and 2 s"
run --desc "deep" --url "not an address"
expect "The AI server address isn't a valid URL"

# Server down and model missing: the install question; yes hands the page to the browser.
cat >"$work/browser.sh" <<BROWSER_END
#!/bin/sh
printf '%s\n' "\$1" >"$work/browser.txt"
BROWSER_END
chmod +x "$work/browser.sh"
export BROWSER="$work/browser.sh"
answer_with '{}'
run --desc "deep" --url "http://127.0.0.1:1" --answer-yes
[ $rc = 1 ] || fail "server down: exit $rc"
[ "$out" = $'Veldmix AI\nThe AI set builder needs Ollama, which is free: install it from ollama.com, then run  ollama pull llama3.2\n\nOpen the Ollama web site now?' ] ||
  fail "server down did not ask to install: $out"
wait_for 10 test -s "$work/browser.txt" || fail "yes did not open the browser"
[ "$(cat "$work/browser.txt")" = "https://ollama.com/download" ] || fail "the browser got $(cat "$work/browser.txt")"
[ "$(fingerprint)" = "$before" ] || fail "the data folder changed after a server that is down"
answer_with '{"models":["mistral:latest","llama3.2-vision:latest"]}'
run --desc "deep" --model "qwen2.5"
[ $rc = 1 ] || fail "model missing: exit $rc"
[ "$out" = $'Veldmix AI\nOllama is running but doesn\'t have the model “qwen2.5” yet — run  ollama pull qwen2.5\n\nOpen the Ollama web site now?' ] ||
  fail "a missing model did not ask to install: $out"
grep -qx 'Model=qwen2.5' "$data/settings.ini" || fail "the typed model was not saved"
[ "$(fingerprint)" = "$before" ] || fail "the data folder changed after a missing model"

# No tracks in view: no request at all.
requests=$(ls "$work/requests" | wc -l)
"$tool" ai-set --folder "$work/empty" --desc "deep" >"$work/out" 2>&1
rc=$?
out="$(cat "$work/out")"
expect "There are no tracks in view — open a folder or list first"
[ "$(ls "$work/requests" | wc -l)" = "$requests" ] || fail "an empty view still asked the server"

kill "$standin_pid" 2>/dev/null
echo "PASS: AI set builder tool"
